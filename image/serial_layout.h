#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelwik {

enum class SerialEncoding { Le, Be, Bcd, Ascii };

// Where and how a serial number goes: ADDR:WIDTH:FIRST[:STEP][:le|be|bcd|ascii]
struct SerialLayout {
  int address = 0;  // hex in the text
  int width = 0;    // bytes
  std::uint64_t first = 0;
  std::uint64_t step = 1;
  SerialEncoding encoding = SerialEncoding::Le;
};

// nullopt with the reason when the text is not a serial description or does not fit 64 KiB; the
// reason starts with `name`, where the text came from.
std::optional<SerialLayout> ParseSerialLayout(std::string_view text, std::string& why,
                                              std::string_view name = "--serial");
// Whether the number can be written in the layout's width and encoding.
bool SerialFits(const SerialLayout& layout, std::uint64_t number);
// The width's bytes for the number (which must fit).
std::vector<std::uint8_t> EncodeSerial(const SerialLayout& layout, std::uint64_t number);

}  // namespace zelwik
