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

}  // namespace zelwik
