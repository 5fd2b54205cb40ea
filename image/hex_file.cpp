#include "image/hex_file.h"

#include "image/file_io.h"

namespace zelwik {

namespace {

// The reader walks the text as a fixed sequence of fields. A read past the end still counts as
// consumed (so every record advances) but yields a character that is no digit.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}
  bool More() const { return pos_ < text_.size(); }
  char Get() {
    char c = pos_ < text_.size() ? text_[pos_] : '\0';
    ++pos_;
    return c;
  }
  // True when both characters of the next pair exist; consumes them either way.
  bool GetPair(char& high, char& low) {
    bool whole = pos_ + 2 <= text_.size();
    high = Get();
    low = Get();
    return whole;
  }
  void Skip(std::size_t n) { pos_ += n; }
  void SkipLineEnds() {
    while (pos_ < text_.size() && (text_[pos_] == '\r' || text_[pos_] == '\n')) ++pos_;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

bool IsAddressRecord(std::uint8_t type) { return type >= 0x02 && type <= 0x05; }

}  // namespace

void LoadHexText(Image& image, std::string_view text) {
  Cursor in(text);
  for (;;) {
    // Any run of CR and LF before a record is a line end or a blank line, whatever its length.
    in.SkipLineEnds();
    if (!in.More()) break;
    char h, l;
    in.Get();  // start mark, never examined
    in.GetPair(h, l);
    const unsigned count = HexPairToByte(h, l);
    in.GetPair(h, l);
    unsigned address = HexPairToByte(h, l) * 256u;
    in.GetPair(h, l);
    address += HexPairToByte(h, l);
    in.GetPair(h, l);
    const std::uint8_t type = HexPairToByte(h, l);
    const bool endRecord = l == '1';
    // The end record's filler takes its own checksum and line end, and the checksum and line-end
    // reads below then take the next four characters whatever they are. Reading them raw keeps
    // CR LF files exactly where a reader of fixed two-character line ends puts them: up to four
    // characters after an end record are swallowed with it, anything beyond is a further record.
    if (endRecord) in.Skip(4);
    const bool store = !IsAddressRecord(type);
    for (unsigned i = 0; i < count; ++i) {
      const bool whole = in.GetPair(h, l);
      const unsigned at = address + i;
      if (store && whole && at < static_cast<unsigned>(kImageSize)) {
        image.MemoryImage[at] = HexPairToByte(h, l);
      }
    }
    in.Skip(2);  // checksum, never verified
    if (endRecord) in.Skip(2);
  }
}

std::optional<int> LoadHexFile(Image& image, const std::string& path) {
  ClearImage(image);
  std::string text;
  const bool ok = ReadWholeFile(path, text);
  LoadHexText(image, text);
  FindImageEnd(image);
  if (!ok) return {};
  return image.ImageEnd + 1;
}

std::string HexText(const Image& image) {
  static constexpr char kEnd[] = ":00000001FF\r\n";
  const int records = image.ImageEnd < 0 ? 0 : image.ImageEnd / 16 + 1;
  std::string text;
  text.reserve(static_cast<std::size_t>(records) * 45 + sizeof kEnd - 1);
  char line[45];
  for (int i = 0; i < records * 16 && i < kImageSize; i += 16) {
    line[0] = ':';
    line[1] = '1';
    line[2] = '0';
    ByteToHexChars(static_cast<std::uint8_t>(i >> 8), line + 3);
    ByteToHexChars(static_cast<std::uint8_t>(i & 0xFF), line + 5);
    line[7] = '0';
    line[8] = '0';
    unsigned sum = 0x10u + static_cast<unsigned>(i >> 8) + static_cast<unsigned>(i & 0xFF);
    for (int k = 0; k < 16; ++k) {
      const std::uint8_t b = image.MemoryImage[i + k];
      sum += b;
      ByteToHexChars(b, line + 9 + 2 * k);
    }
    ByteToHexChars(static_cast<std::uint8_t>(0u - sum), line + 41);
    line[43] = '\r';
    line[44] = '\n';
    text.append(line, sizeof line);
  }
  text.append(kEnd, sizeof kEnd - 1);
  return text;
}

std::optional<int> SaveHexFile(Image& image, const std::string& path) {
  FindImageEnd(image);
  if (!ReplaceWholeFile(path, HexText(image))) return {};
  return image.ImageEnd < 0 ? 0 : (image.ImageEnd / 16 + 1) * 16;
}

}  // namespace zelwik
