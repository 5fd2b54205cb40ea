#include "cli/cp1250.h"

#include <algorithm>

#include "image/cp1250.h"

namespace zelwik::cli {

std::string TerminalChar(std::uint8_t byte) {
  const char16_t cp = ListCell(byte);
  std::string out;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
    return out;
  }
  if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (cp & 0x3F));
  return out;
}

std::string TerminalListingLine(const std::string& line) {
  const std::size_t head = std::min(line.size(), kListCharacterColumn);
  std::string out = line.substr(0, head);
  for (std::size_t i = head; i < line.size(); ++i)
    out += TerminalChar(static_cast<std::uint8_t>(line[i]));
  return out;
}

}  // namespace zelwik::cli
