#pragma once

#include <string>
#include <string_view>

#include "image/memory_image.h"

namespace zelwik {

// How the load of an image file ended; `line` (from 1) names the first record refused.
struct LoadResult {
  enum class Error {
    None,
    Unreadable,      // the file could not be opened or read
    TooLarge,        // more bytes than the memory image holds
    BadSyntax,       // not a record of the format, or cut short
    BadChecksum,     // a record whose checksum does not match its bytes
    AddressTooHigh,  // a byte above address FFFF
    BadCount,        // an S-record count that disagrees with the data records before it
    NoEndRecord,     // the file ends without its end record (line = one past the last)
  };
  Error error = Error::None;
  int line = 0;
  bool Ok() const { return error == Error::None; }
};

// Parses the file's text into a scratch image and replaces the content of `image` only when the
// whole file was accepted, so a refused file leaves the image exactly as it was. ImageEnd is
// recomputed on success.
using ImageParser = LoadResult (*)(Image& image, std::string_view text);
LoadResult LoadImageFile(Image& image, const std::string& path, ImageParser parse);

}  // namespace zelwik
