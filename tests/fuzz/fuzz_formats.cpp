// Arbitrary bytes as text for every file reader. The forgiving HEX loader of the window stays
// inside the image, never hangs, and what it loads survives a save and a reload. The S-record and
// strict HEX readers store nothing from a refused record or after it, and what they accept
// survives our own writer unchanged.
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "image/hex_file.h"
#include "image/srec.h"
#include "image/strict_hex.h"

using namespace zelwik;

// The fuzzer's crash report shows the line.
#define Check(condition) ((condition) ? (void)0 : std::abort())

// Large images cost milliseconds to write and reread under instrumentation; unit tests have them.
constexpr int kLargest = 0x1000;

static void Forgiving(std::string_view text) {
  auto image = std::make_unique<Image>(), other = std::make_unique<Image>();
  LoadHexText(*image, text);
  // Every record overwrites whatever an earlier one left, so a second pass changes nothing.
  *other = *image;
  LoadHexText(*other, text);
  Check(image->ImageEnd == 0 && other->MemoryImage == image->MemoryImage);
  FindImageEnd(*image);
  Check(image->ImageEnd >= -1 && image->ImageEnd < kImageSize);
  if (image->ImageEnd >= kLargest) return;
  const std::string saved = HexText(*image);
  const int records = image->ImageEnd < 0 ? 0 : image->ImageEnd / 16 + 1;
  Check(saved.size() == static_cast<std::size_t>(45 * records + 13));
  *other = Image{};
  LoadHexText(*other, saved);
  Check(other->MemoryImage == image->MemoryImage);
}

static void Exercise(std::string_view text, LoadResult (*read)(Image&, std::string_view),
                     std::string (*write)(const Image&)) {
  auto image = std::make_unique<Image>(), other = std::make_unique<Image>();
  const LoadResult result = read(*image, text);
  Check(image->ImageEnd == 0);  // only FindImageEnd moves it
  if (!result.Ok()) {
    // What was stored came from the lines before the refused one (all of them when it is the line
    // after the last).
    std::size_t pos = 0;
    for (int n = 1; n < result.line && pos <= text.size(); ++n) {
      const std::size_t lineEnd = text.find('\n', pos);
      pos = lineEnd == std::string_view::npos ? text.size() + 1 : lineEnd + 1;
    }
    read(*other, text.substr(0, std::min(pos, text.size())));
    Check(result.line >= 1 && other->MemoryImage == image->MemoryImage);
    return;
  }
  FindImageEnd(*image);
  if (image->ImageEnd >= kLargest) return;
  Check(read(*other, write(*image)).Ok() && other->MemoryImage == image->MemoryImage);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Forgiving(text);
  Exercise(text, LoadSrecText, SrecText);
  Exercise(text, LoadStrictHexText, HexText);
  return 0;
}
