#include "image/srec.h"

#include "image/file_io.h"
#include "image/text_records.h"

namespace zelwik {

namespace {

using Error = LoadResult::Error;

// Address bytes of each record type; 0 for S4, which no tool writes.
constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

}  // namespace

LoadResult LoadSrecText(Image& image, std::string_view text) {
  LoadResult result;
  bool ended = false;
  long dataRecords = 0;
  detail::ForEachLine(text, [&](int number, std::string_view line) {
    if (line.empty()) return true;
    auto refuse = [&](Error error) {
      result = {error, number};
      return false;
    };
    detail::RecordBytes bytes;
    if (ended || line.size() < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
      return refuse(Error::BadSyntax);
    const int type = line[1] - '0';
    const int addressBytes = kAddressBytes[type];
    if (addressBytes == 0 || !detail::DecodeHex(line.substr(2), bytes) || bytes.size < 2 ||
        bytes.data[0] != bytes.size - 1 || bytes.size < 2u + addressBytes)
      return refuse(Error::BadSyntax);
    unsigned sum = 0;
    for (std::size_t i = 0; i < bytes.size; ++i) sum += bytes.data[i];
    if ((sum & 0xFF) != 0xFF) return refuse(Error::BadChecksum);

    unsigned long address = 0;
    for (int i = 0; i < addressBytes; ++i) address = address << 8 | bytes.data[1 + i];
    const std::size_t first = 1 + addressBytes, count = bytes.size - 1 - first;
    if (type >= 1 && type <= 3) {
      if (count > 0 && address + count - 1 > 0xFFFF) return refuse(Error::AddressTooHigh);
      for (std::size_t i = 0; i < count; ++i)
        image.MemoryImage[address + i] = bytes.data[first + i];
      ++dataRecords;
    } else if (type != 0) {
      if (count != 0) return refuse(Error::BadSyntax);
      if ((type == 5 || type == 6) && static_cast<long>(address) != dataRecords)
        return refuse(Error::BadCount);
      ended = type >= 7;
    }
    return true;
  });
  return result;
}

std::string SrecText(const Image& image) {
  static constexpr char kHeader[] = "S0030000FC\r\n", kEnd[] = "S9030000FC\r\n";
  const int records = image.ImageEnd < 0 ? 0 : image.ImageEnd / 16 + 1;
  std::string text(kHeader);
  text.reserve(static_cast<std::size_t>(records) * 44 + 2 * (sizeof kEnd - 1));
  char line[44] = {'S', '1', '1', '3'};
  for (int i = 0; i < records * 16 && i < kImageSize; i += 16) {
    ByteToHexChars(static_cast<std::uint8_t>(i >> 8), line + 4);
    ByteToHexChars(static_cast<std::uint8_t>(i & 0xFF), line + 6);
    unsigned sum = 0x13u + static_cast<unsigned>(i >> 8) + static_cast<unsigned>(i & 0xFF);
    for (int k = 0; k < 16; ++k) {
      const std::uint8_t b = image.MemoryImage[i + k];
      sum += b;
      ByteToHexChars(b, line + 8 + 2 * k);
    }
    ByteToHexChars(static_cast<std::uint8_t>(~sum), line + 40);
    line[42] = '\r';
    line[43] = '\n';
    text.append(line, sizeof line);
  }
  text += kEnd;
  return text;
}

LoadResult LoadSrecFile(Image& image, const std::string& path) {
  return LoadImageFile(image, path, LoadSrecText);
}

int SaveSrecFile(Image& image, const std::string& path) {
  FindImageEnd(image);
  if (!ReplaceWholeFile(path, SrecText(image))) return -1;
  return image.ImageEnd < 0 ? 0 : (image.ImageEnd / 16 + 1) * 16;
}

}  // namespace zelwik
