#include "image/memory_image.h"

namespace zelwik {

void ClearImage(Image& image) { image.MemoryImage.fill(kEmptyByte); }

void FindImageEnd(Image& image) {
  std::int32_t end = kImageSize - 1;
  while (end >= 0 && image.MemoryImage[end] == kEmptyByte) --end;
  image.ImageEnd = end;
}

namespace {
int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  // Lower-case digits are digits too: tools write them and nobody means 0 by them.
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}
constexpr char kDigits[] = "0123456789ABCDEF";
}  // namespace

std::uint8_t HexPairToByte(char high, char low) {
  return static_cast<std::uint8_t>(DigitValue(high) * 16 + DigitValue(low));
}

void ByteToHexChars(std::uint8_t value, char* out) {
  out[0] = kDigits[value >> 4];
  out[1] = kDigits[value & 0x0F];
}

std::string ByteToHexText(std::uint8_t value) {
  std::string text(2, '0');
  ByteToHexChars(value, text.data());
  return text;
}

std::string ListLine(const Image& image, int address) {
  std::string line;
  line.reserve(5 + 32 + 1 + 16);
  char pair[2];
  ByteToHexChars(static_cast<std::uint8_t>(address >> 8), pair);
  line.append(pair, 2);
  ByteToHexChars(static_cast<std::uint8_t>(address & 0xFF), pair);
  line.append(pair, 2);
  line.push_back(':');
  for (int i = 0; i < 16; ++i) {
    ByteToHexChars(image.MemoryImage[address + i], pair);
    line.append(pair, 2);
  }
  line.push_back(' ');
  for (int i = 0; i < 16; ++i) {
    std::uint8_t b = image.MemoryImage[address + i];
    if (b != 0) line.push_back(static_cast<char>(b));
  }
  return line;
}

void ListImage(const Image& image, const std::function<void(const std::string&)>& addLine) {
  for (int a = 0; a <= image.ImageEnd && a < kImageSize; a += 16) addLine(ListLine(image, a));
}

}  // namespace zelwik
