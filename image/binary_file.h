#pragma once

#include <string>
#include <string_view>

#include "image/load_result.h"
#include "image/memory_image.h"

namespace zelwik {

// Stores raw bytes from address 0 up; more bytes than the image holds are refused whole
// (TooLarge, nothing stored). No clearing, no ImageEnd.
LoadResult LoadBinaryBytes(Image& image, std::string_view bytes);

// The file is loaded whole or not at all (see LoadImageFile).
LoadResult LoadBinaryFile(Image& image, const std::string& path);

// Writes addresses 0 to size - 1 exactly, 0xFF bytes included, so the file restores a chip of that
// size as it was. False when the file could not be written (an existing one is kept).
bool SaveBinaryFile(const Image& image, int size, const std::string& path);

}  // namespace zelwik
