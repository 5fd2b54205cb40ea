// Arbitrary bytes as S-record text and as Intel HEX for the strict reader: no crash, no byte stored
// from a refused record or after it, and what is accepted survives our own writer unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "image/hex_file.h"
#include "image/srec.h"
#include "image/strict_hex.h"

namespace {

using namespace zelwik;

void Check(bool ok) {
  if (!ok) std::abort();
}

// The text before line `line` (counted from 1); all of it for the line after the last.
std::string_view LinesBefore(std::string_view text, int line) {
  std::size_t pos = 0;
  for (int n = 1; n < line; ++n) {
    const std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) return text;
    pos = end + 1;
  }
  return text.substr(0, pos);
}

void Exercise(std::string_view text, LoadResult (*read)(Image&, std::string_view),
              std::string (*write)(const Image&)) {
  auto image = std::make_unique<Image>();
  const LoadResult result = read(*image, text);
  Check(image->ImageEnd == 0);  // only FindImageEnd moves it
  if (!result.Ok()) {
    Check(result.line >= 1);
    // Everything stored came from the lines before the refused one.
    auto before = std::make_unique<Image>();
    read(*before, LinesBefore(text, result.line));
    Check(before->MemoryImage == image->MemoryImage);
    return;
  }
  FindImageEnd(*image);
  // Large images cost milliseconds to write and reread under instrumentation; unit tests have them.
  if (image->ImageEnd >= 0x1000) return;
  auto reloaded = std::make_unique<Image>();
  Check(read(*reloaded, write(*image)).Ok());
  Check(reloaded->MemoryImage == image->MemoryImage);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Exercise(text, LoadSrecText, SrecText);
  Exercise(text, LoadStrictHexText, HexText);
  return 0;
}
