#pragma once

#include <string>
#include <string_view>

#include "image/memory_image.h"
#include "image/view.h"

namespace zelwik {

// Stores the records of Intel HEX text into the image (no clearing, no ImageEnd). Never fails:
// malformed content is read as well as it can be and nothing is reported.
void LoadHexText(Image& image, std::string_view text);

// The load of a HEX file into the image: clears image and log, stores the records, recomputes
// ImageEnd, lists the image and reports " Odczytano N bajtów." (after " Błąd I/O ..." and a
// 1,500 ms pause when the file cannot be read). Returns false when the file could not be read.
bool LoadHexFile(Image& image, const std::string& path, View& view);

// The HEX text of addresses 0 to ImageEnd as 16-byte records and the end record, CR LF ends.
std::string HexText(const Image& image);

// Recomputes ImageEnd and writes the HEX file; on success reports " Zapisano N bajtów.", on any
// failure " Błąd I/O ..." (an existing file of that name is left untouched). No pause. Returns
// whether the file was written.
bool SaveHexFile(Image& image, const std::string& path, View& view);

}  // namespace zelwik
