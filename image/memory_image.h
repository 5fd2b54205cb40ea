#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace zelwik {

inline constexpr int kImageSize = 0x10000;
inline constexpr std::uint8_t kEmptyByte = 0xFF;

// The program-memory image: index = address, 0xFF = empty. The program keeps one; tests make as
// many as they like.
struct Image {
  std::array<std::uint8_t, kImageSize> MemoryImage;
  // Highest address holding a byte other than 0xFF, -1 for an empty image. Only FindImageEnd
  // recomputes it; it is 0 until the first load, read or save although the image starts empty.
  std::int32_t ImageEnd = 0;

  Image() { MemoryImage.fill(kEmptyByte); }
};

void ClearImage(Image& image);
void FindImageEnd(Image& image);

// Two hexadecimal digit characters to a byte; a character that is no digit counts as 0.
std::uint8_t HexPairToByte(char high, char low);
std::string ByteToHexText(std::uint8_t value);
// Writes two upper-case digits into out[0] and out[1], no terminator.
void ByteToHexChars(std::uint8_t value, char* out);

// One listing line for the 16 bytes at address (a multiple of 16): "AAAA:" 32 digits, a blank and
// the raw bytes, a 0x00 byte adding no character.
std::string ListLine(const Image& image, int address);
// The listing of addresses 0 to ImageEnd, one ListLine at a time.
void ListImage(const Image& image, const std::function<void(const std::string&)>& addLine);

}  // namespace zelwik
