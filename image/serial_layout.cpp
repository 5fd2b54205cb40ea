#include "image/serial_layout.h"

#include <charconv>

#include "image/memory_image.h"

namespace zelwik {
namespace {

std::vector<std::string_view> Split(std::string_view text) {
  std::vector<std::string_view> parts;
  for (std::size_t at = 0;;) {
    const std::size_t colon = text.find(':', at);
    parts.push_back(text.substr(at, colon == std::string_view::npos ? colon : colon - at));
    if (colon == std::string_view::npos) return parts;
    at = colon + 1;
  }
}

template <typename T>
bool Number(std::string_view text, int base, T& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

std::uint64_t Power(std::uint64_t base, int exponent) {
  std::uint64_t value = 1;
  for (int i = 0; i < exponent; ++i) value *= base;
  return value;
}

}  // namespace

std::optional<SerialLayout> ParseSerialLayout(std::string_view text, std::string& why,
                                              std::string_view name) {
  const std::string what(name);
  std::vector<std::string_view> parts = Split(text);
  SerialLayout layout;
  if (parts.size() >= 4) {
    const std::string_view last = parts.back();
    const struct {
      const char* name;
      SerialEncoding encoding;
    } kEncodings[] = {{"le", SerialEncoding::Le},
                      {"be", SerialEncoding::Be},
                      {"bcd", SerialEncoding::Bcd},
                      {"ascii", SerialEncoding::Ascii}};
    for (const auto& e : kEncodings) {
      if (last == e.name) {
        layout.encoding = e.encoding;
        parts.pop_back();
        break;
      }
    }
  }
  if (parts.size() < 3 || parts.size() > 4) {
    why =
        what + " takes ADDR:WIDTH:FIRST[:STEP][:le|be|bcd|ascii], not '" + std::string(text) + "'";
    return {};
  }
  if (!Number(parts[0], 16, layout.address) || layout.address < 0 || layout.address >= kImageSize) {
    why = what + ": address '" + std::string(parts[0]) + "' is not a hex address below 10000";
    return {};
  }
  if (!Number(parts[1], 10, layout.width) || layout.width < 1 || layout.width > 8) {
    why = what + ": width '" + std::string(parts[1]) + "' is not 1 to 8 bytes";
    return {};
  }
  if (layout.address + layout.width > kImageSize) {
    why = what + ": " + std::to_string(layout.width) + " bytes from " + std::string(parts[0]) +
          " go beyond address FFFF";
    return {};
  }
  if (!Number(parts[2], 10, layout.first)) {
    why = what + ": first number '" + std::string(parts[2]) + "' is not a decimal number";
    return {};
  }
  if (parts.size() == 4 && (!Number(parts[3], 10, layout.step) || layout.step == 0)) {
    why = what + ": step '" + std::string(parts[3]) + "' is not a positive decimal number";
    return {};
  }
  if (!SerialFits(layout, layout.first)) {
    why = what + ": " + std::to_string(layout.first) + " does not fit in " +
          std::to_string(layout.width) + " bytes";
    return {};
  }
  return layout;
}

bool SerialFits(const SerialLayout& layout, std::uint64_t number) {
  switch (layout.encoding) {
    case SerialEncoding::Le:
    case SerialEncoding::Be:
      return layout.width >= 8 || number < (std::uint64_t{1} << (8 * layout.width));
    case SerialEncoding::Bcd:  // two digits a byte; 8 bytes hold 16 digits, more than 2^64 has
      return layout.width >= 8 || number < Power(10, 2 * layout.width);
    case SerialEncoding::Ascii:
      return number < Power(10, layout.width);  // at most 8 digits
  }
  return false;
}

std::vector<std::uint8_t> EncodeSerial(const SerialLayout& layout, std::uint64_t number) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(layout.width));
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n; ++i) {
    switch (layout.encoding) {
      case SerialEncoding::Le:
        bytes[i] = static_cast<std::uint8_t>(number >> (8 * i));
        break;
      case SerialEncoding::Be:
        bytes[n - 1 - i] = static_cast<std::uint8_t>(number >> (8 * i));
        break;
      case SerialEncoding::Bcd:  // most significant digits first
        bytes[n - 1 - i] = static_cast<std::uint8_t>((number / 10 % 10) << 4 | number % 10);
        number /= 100;
        break;
      case SerialEncoding::Ascii:  // zero-padded decimal digits
        bytes[n - 1 - i] = static_cast<std::uint8_t>('0' + number % 10);
        number /= 10;
        break;
    }
  }
  return bytes;
}

}  // namespace zelwik
