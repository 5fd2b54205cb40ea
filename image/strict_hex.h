#pragma once

#include <string>
#include <string_view>

#include "image/load_result.h"
#include "image/memory_image.h"

namespace zelwik {

// Intel HEX read record by record with every check the forgiving loader leaves out: the start
// mark, digits, byte count, checksum, known record types, extended addresses (which must keep the
// data at or below FFFF), nothing after the end record and an end record at all. Stops at the first
// record refused, storing none of its bytes. No clearing, no ImageEnd.
LoadResult LoadStrictHexText(Image& image, std::string_view text);

// The file is loaded whole or not at all (see LoadImageFile).
LoadResult LoadStrictHexFile(Image& image, const std::string& path);

}  // namespace zelwik
