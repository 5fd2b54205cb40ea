// The listing's character column on a terminal: Windows-1250 to UTF-8, control bytes made safe.
#include <gtest/gtest.h>
#include <iconv.h>

#include "cli/cp1250.h"

namespace zelwik::cli {
namespace {

// The system's own converter is the reference for the table.
std::string SystemConversion(std::uint8_t byte) {
  iconv_t cd = iconv_open("UTF-8", "CP1250");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "?unavailable";
  char in[1] = {static_cast<char>(byte)};
  char out[8] = {};
  char* inPtr = in;
  char* outPtr = out;
  std::size_t inLeft = 1, outLeft = sizeof out;
  const std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (result == static_cast<std::size_t>(-1)) return ".";  // undefined in the code page
  return std::string(out, outPtr);
}

TEST(Cp1250, HighHalfMatchesTheSystemConverter) {
  if (SystemConversion(0xA5) == "?unavailable") GTEST_SKIP() << "no CP1250 in iconv";
  for (int b = 0x80; b <= 0xFF; ++b)
    EXPECT_EQ(TerminalChar(static_cast<std::uint8_t>(b)), SystemConversion(static_cast<std::uint8_t>(b)))
        << "byte " << b;
}

TEST(Cp1250, PolishLettersAndUndefinedBytes) {
  EXPECT_EQ(TerminalChar(0xA5), "Ą");
  EXPECT_EQ(TerminalChar(0xB3), "ł");
  EXPECT_EQ(TerminalChar(0x9F), "ź");
  EXPECT_EQ(TerminalChar(0x80), "€");
  for (std::uint8_t undefined : {0x81, 0x83, 0x88, 0x90, 0x98}) EXPECT_EQ(TerminalChar(undefined), ".");
}

TEST(Cp1250, ControlBytesNeverReachTheTerminal) {
  for (int b = 0; b < 0x20; ++b) EXPECT_EQ(TerminalChar(static_cast<std::uint8_t>(b)), ".");
  EXPECT_EQ(TerminalChar(0x7F), ".");
  EXPECT_EQ(TerminalChar(0x1B), ".");
  EXPECT_EQ(TerminalChar(' '), " ");
  EXPECT_EQ(TerminalChar('~'), "~");
}

TEST(Cp1250, ListingLineKeepsHexPartAndConvertsCharacters) {
  const std::string hex = "0000:41071BA5FFFFFFFFFFFFFFFFFFFFFFFF";
  std::string line = hex + " A\x07\x1b\xa5";
  EXPECT_EQ(TerminalListingLine(line), hex + " A..Ą");
  // The separating blank is the 38th character whatever the column holds.
  EXPECT_EQ(TerminalListingLine(hex + " "), hex + " ");
  EXPECT_EQ(TerminalListingLine("short"), "short");
}

}  // namespace
}  // namespace zelwik::cli
