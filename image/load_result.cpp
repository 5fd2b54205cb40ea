#include "image/load_result.h"

#include <memory>

#include "image/file_io.h"

namespace zelwik {

LoadResult LoadImageFile(Image& image, const std::string& path, ImageParser parse) {
  std::string text;
  if (!ReadWholeFile(path, text)) return {LoadResult::Error::Unreadable, 0};
  auto scratch = std::make_unique<Image>();
  const LoadResult result = parse(*scratch, text);
  if (!result.Ok()) return result;
  image.MemoryImage = scratch->MemoryImage;
  FindImageEnd(image);
  return result;
}

std::string RefusalReason(const LoadResult& result, ImageFormat format) {
  using Error = LoadResult::Error;
  const std::string at = "line " + std::to_string(result.line) + ": ";
  switch (result.error) {
    case Error::None:
    case Error::Unreadable:
      break;
    case Error::TooLarge:
      return format == ImageFormat::Binary ? "more than 65536 bytes, larger than any chip"
                                           : "too large for an image file";
    case Error::BadSyntax:
      return at + (format == ImageFormat::Srec ? "not an S-record" : "not an Intel HEX record") +
             " (or cut short)";
    case Error::BadChecksum:
      return at + "checksum does not match";
    case Error::AddressTooHigh:
      return at + "data above address FFFF";
    case Error::BadCount:
      return at + "record count does not match the data records before it";
    case Error::NoEndRecord:
      return at + "end record missing (file cut short?)";
  }
  return {};
}

}  // namespace zelwik
