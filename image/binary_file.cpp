#include "image/binary_file.h"

#include <algorithm>

#include "image/file_io.h"

namespace zelwik {

LoadResult LoadBinaryBytes(Image& image, std::string_view bytes) {
  if (bytes.size() > static_cast<std::size_t>(kImageSize)) return {LoadResult::Error::TooLarge, 0};
  std::copy(bytes.begin(), bytes.end(), image.MemoryImage.begin());
  return {};
}

LoadResult LoadBinaryFile(Image& image, const std::string& path) {
  return LoadImageFile(image, path, LoadBinaryBytes);
}

bool SaveBinaryFile(const Image& image, int size, const std::string& path) {
  size = std::clamp(size, 0, kImageSize);
  const auto* bytes = reinterpret_cast<const char*>(image.MemoryImage.data());
  return ReplaceWholeFile(path, std::string(bytes, static_cast<std::size_t>(size)));
}

}  // namespace zelwik
