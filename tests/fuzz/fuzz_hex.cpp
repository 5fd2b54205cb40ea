// Arbitrary bytes as HEX text: the loader must stay inside the image, never hang, and what it
// loads must survive a save and a reload unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "image/hex_file.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelwik;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  auto image = std::make_unique<Image>();
  LoadHexText(*image, text);
  Check(image->ImageEnd == 0);  // only FindImageEnd moves it

  // Every record overwrites whatever an earlier one left, so a second pass changes nothing.
  auto again = std::make_unique<Image>(*image);
  LoadHexText(*again, text);
  Check(again->MemoryImage == image->MemoryImage);

  FindImageEnd(*image);
  Check(image->ImageEnd >= -1 && image->ImageEnd < kImageSize);
  // The save and reload of a large image cost milliseconds under instrumentation; the unit tests
  // cover those, here the fuzzer's speed matters more.
  if (image->ImageEnd >= 0x1000) return 0;
  const std::string saved = HexText(*image);
  const std::size_t records = image->ImageEnd < 0 ? 0 : image->ImageEnd / 16 + 1;
  Check(saved.size() == 45 * records + 13);

  auto reloaded = std::make_unique<Image>();
  LoadHexText(*reloaded, saved);
  Check(reloaded->MemoryImage == image->MemoryImage);
  return 0;
}
