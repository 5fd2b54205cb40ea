#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/memory_image.h"

namespace zelwik {

// The CRC-32 of zip and PNG (reflected 0xEDB88320, start and final xor 0xFFFFFFFF), the one other
// tools print, so a checksum read off the window can be compared with theirs.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size);

// Of addresses 0 to ImageEnd, the bytes a program writes, 0xFF gaps included; an empty image
// (ImageEnd -1) covers no byte and gives 00000000.
std::uint32_t ImageCrc32(const Image& image);

// Eight upper-case hex digits, as people compare them by eye: "CBF43926".
std::string Crc32Text(std::uint32_t crc);

}  // namespace zelwik
