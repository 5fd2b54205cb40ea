#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// Line-by-line reading shared by the record formats that check every record.
namespace zelwik::detail {

// Calls fn(number, line) for each line, numbered from 1, without its LF or CR LF end; stops early
// when fn returns false. Returns the number of the line after the last one.
template <class Fn>
int ForEachLine(std::string_view text, Fn fn) {
  int number = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    ++number;
    std::size_t end = text.find('\n', pos);
    std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!fn(number, line)) return number;
    pos = next;
  }
  return number + 1;
}

// The bytes of one record: at most 255 counted bytes plus the count and checksum.
struct RecordBytes {
  std::array<std::uint8_t, 260> data;
  std::size_t size = 0;
};

// Hexadecimal digits (either case) to bytes; false for an odd number, a non-digit or too many.
inline bool DecodeHex(std::string_view digits, RecordBytes& out) {
  if (digits.size() % 2 != 0 || digits.size() / 2 > out.data.size()) return false;
  auto value = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  out.size = digits.size() / 2;
  for (std::size_t i = 0; i < out.size; ++i) {
    const int high = value(digits[2 * i]), low = value(digits[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out.data[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return true;
}

}  // namespace zelwik::detail
