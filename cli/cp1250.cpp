#include "cli/cp1250.h"

#include "image/cp1250.h"

namespace zelwik::cli {
namespace {

// Where the character column starts: "AAAA:" + 32 digits + " ".
constexpr std::size_t kCharacterColumn = 5 + 32 + 1;

}  // namespace

std::string TerminalChar(std::uint8_t byte) {
  if (byte < 0x20 || byte == 0x7F) return ".";
  if (byte < 0x80) return std::string(1, static_cast<char>(byte));
  const char16_t cp = Cp1250ToUnicode(byte);
  if (cp == 0) return ".";
  std::string out;
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
  const std::size_t head = line.size() < kCharacterColumn ? line.size() : kCharacterColumn;
  std::string out = line.substr(0, head);
  for (std::size_t i = head; i < line.size(); ++i)
    out += TerminalChar(static_cast<std::uint8_t>(line[i]));
  return out;
}

}  // namespace zelwik::cli
