#pragma once

#include <string>
#include <string_view>

#include "image/load_result.h"
#include "image/memory_image.h"

namespace zelwik {

// Stores the data records (S1, S2, S3) of Motorola S-record text into the image, record by record,
// and stops at the first record refused: a bad checksum, a malformed or cut-short line, data above
// FFFF, an S5/S6 count that disagrees or anything after an end record (S7, S8, S9). The end record
// is optional: srec_cat leaves it out when it knows no start address. Bytes of a refused record are
// never stored. No clearing, no ImageEnd.
LoadResult LoadSrecText(Image& image, std::string_view text);

// Addresses 0 to ImageEnd as S1 records of 16 bytes between an empty S0 header and S9, CR LF ends.
std::string SrecText(const Image& image);

// The file is loaded whole or not at all (see LoadImageFile).
LoadResult LoadSrecFile(Image& image, const std::string& path);
// Recomputes ImageEnd and writes SrecText safely; the number of data bytes written, -1 on failure.
int SaveSrecFile(Image& image, const std::string& path);

}  // namespace zelwik
