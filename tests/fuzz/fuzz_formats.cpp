// Arbitrary bytes as S-record text and as Intel HEX for the strict reader: no crash, nothing stored
// from a refused record or after it, and what is accepted survives our own writer unchanged.
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "image/hex_file.h"
#include "image/srec.h"
#include "image/strict_hex.h"

using namespace zelwik;

static void Check(bool ok) {
  if (!ok) std::abort();
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
  // Large images cost milliseconds to write and reread under instrumentation; unit tests have them.
  if (image->ImageEnd >= 0x1000) return;
  Check(read(*other, write(*image)).Ok() && other->MemoryImage == image->MemoryImage);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Exercise(text, LoadSrecText, SrecText);
  Exercise(text, LoadStrictHexText, HexText);
  return 0;
}
