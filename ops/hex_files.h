#pragma once

#include <string>

#include "image/memory_image.h"
#include "ops/view.h"

namespace zelwik {

// The log shows the image: the listing of addresses 0 to ImageEnd.
void ShowListing(const Image& image, View& view);

// The image's checksum as `zelwik-cli list` ends with it: " Suma CRC-32 (0000-01A3):
// 1A2B3C4D", the range being what a program writes; an empty image " Suma CRC-32 (brak danych):
// 00000000".
std::string ChecksumText(const Image& image);

// The load of a HEX file as the user sees it: clears the log, loads, lists the image and reports
// " Odczytano N bajtów." (after " Błąd I/O ..." and a 1,500 ms pause when the file cannot be read).
// Returns false when the file could not be read.
bool LoadHexFileShown(Image& image, const std::string& path, View& view);

// Saves the image as a HEX file and reports " Zapisano N bajtów.", or " Błąd I/O ..." on any
// failure (an existing file of that name is left untouched). No pause. Returns whether the file
// was written.
bool SaveHexFileShown(Image& image, const std::string& path, View& view);

}  // namespace zelwik
