#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "image/memory_image.h"
#include "ops/file_formats.h"
#include "ops/view.h"

namespace zelwik::cli {

// The formats and their extensions are the window's too.
using zelwik::FileFormat;
using zelwik::FormatNamed;
using zelwik::FormatOfFile;

// Loads the file for program, verify or list, showing what a HEX load shows. Intel HEX goes
// through the window's forgiving loader unless `strict`. False when the file must not reach the
// chip; a refused file is named on err with the line of its first bad record.
bool LoadImage(Image& image, const std::string& path, FileFormat format, bool strict, View& view,
               std::ostream& err);

// What a load shows once the file is in: the listing and the bytes read.
void ShowLoaded(const Image& image, View& view);

}  // namespace zelwik::cli
