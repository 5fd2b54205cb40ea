#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "image/memory_image.h"

namespace zelwik {

// Stores the records of Intel HEX text into the image (no clearing, no ImageEnd). Never fails:
// malformed content is read as well as it can be and nothing is reported.
void LoadHexText(Image& image, std::string_view text);

// Clears the image, stores the records of the file and recomputes ImageEnd. Returns the bytes
// loaded (ImageEnd + 1), or nothing when the file could not be read; the records that did arrive
// stay loaded even then, as they would with a reader that stores record by record.
std::optional<int> LoadHexFile(Image& image, const std::string& path);

// The HEX text of addresses 0 to ImageEnd as 16-byte records and the end record, CR LF ends.
std::string HexText(const Image& image);

// Recomputes ImageEnd and writes the HEX file. Returns the bytes written (whole records), or
// nothing on any failure, which leaves an existing file of that name untouched.
std::optional<int> SaveHexFile(Image& image, const std::string& path);

}  // namespace zelwik
