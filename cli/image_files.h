#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "image/memory_image.h"
#include "ops/view.h"

namespace zelwik::cli {

enum class FileFormat { Hex, Binary, Srec };

// "hex", "bin" or "srec" (any case), as --format takes them.
std::optional<FileFormat> FormatNamed(std::string_view name);
// By extension: .bin binary; .s19, .srec, .mot S-record; anything else Intel HEX.
FileFormat FormatOfFile(const std::string& path);

// Loads the file for program, verify or list, showing what a HEX load shows. Intel HEX goes
// through the window's forgiving loader unless `strict`. False when the file must not reach the
// chip; a refused file is named on err with the line of its first bad record.
bool LoadImage(Image& image, const std::string& path, FileFormat format, bool strict, View& view,
               std::ostream& err);

// Saves a chip just read; a binary file holds exactly chipSize bytes.
bool SaveImage(Image& image, const std::string& path, FileFormat format, int chipSize, View& view);

}  // namespace zelwik::cli
