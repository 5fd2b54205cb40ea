#include "image/strict_hex.h"

#include "image/text_records.h"

namespace zelwik {

namespace {

using Error = LoadResult::Error;

enum RecordType { kData = 0, kEnd, kSegment, kStartSegment, kLinear, kStartLinear };
// Byte count each type must carry; data records carry any.
constexpr int kFixedCount[] = {-1, 0, 2, 4, 2, 4};

}  // namespace

LoadResult LoadStrictHexText(Image& image, std::string_view text) {
  LoadResult result;
  bool ended = false;
  unsigned long base = 0;  // from the latest extended segment or linear address record
  const int after = detail::ForEachLine(text, [&](int number, std::string_view line) {
    if (line.empty()) return true;
    auto refuse = [&](Error error) {
      result = {error, number};
      return false;
    };
    detail::RecordBytes bytes;
    if (ended || line[0] != ':' || !detail::DecodeHex(line.substr(1), bytes) || bytes.size < 5 ||
        bytes.data[0] != bytes.size - 5)
      return refuse(Error::BadSyntax);
    const std::size_t count = bytes.data[0];
    const unsigned type = bytes.data[3];
    if (type > kStartLinear || (type != kData && kFixedCount[type] != static_cast<int>(count)))
      return refuse(Error::BadSyntax);
    unsigned sum = 0;
    for (std::size_t i = 0; i < bytes.size; ++i) sum += bytes.data[i];
    if ((sum & 0xFF) != 0) return refuse(Error::BadChecksum);

    switch (type) {
      case kData: {
        const unsigned long address = base + (bytes.data[1] << 8 | bytes.data[2]);
        if (count > 0 && address + count - 1 > 0xFFFF) return refuse(Error::AddressTooHigh);
        for (std::size_t i = 0; i < count; ++i) image.MemoryImage[address + i] = bytes.data[4 + i];
        break;
      }
      case kEnd:
        ended = true;
        break;
      case kSegment:
        base = (bytes.data[4] << 8 | bytes.data[5]) * 16ul;
        break;
      case kLinear:
        base = (bytes.data[4] << 8 | bytes.data[5]) * 65536ul;
        break;
      default:
        break;  // start addresses mean nothing to a chip that starts at 0
    }
    return true;
  });
  if (result.Ok() && !ended) result = {Error::NoEndRecord, after};
  return result;
}

LoadResult LoadStrictHexFile(Image& image, const std::string& path) {
  return LoadImageFile(image, path, LoadStrictHexText);
}

}  // namespace zelwik
