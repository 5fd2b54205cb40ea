#include "cli/image_files.h"

#include "image/binary_file.h"
#include "image/srec.h"
#include "image/strict_hex.h"
#include "link/chips.h"
#include "ops/hex_files.h"
#include "ops/texts.h"

namespace zelwik::cli {

bool LoadImage(Image& image, const std::string& path, FileFormat format, bool strict, View& view,
               std::ostream& err) {
  if (format == FileFormat::Hex && !strict) return LoadHexFileShown(image, path, view);
  const LoadResult result = format == FileFormat::Binary ? LoadBinaryFile(image, path)
                            : format == FileFormat::Srec ? LoadSrecFile(image, path)
                                                         : LoadStrictHexFile(image, path);
  if (result.error == LoadResult::Error::Unreadable) {
    view.SetStatus(kTextIoError);
    return false;
  }
  if (!result.Ok()) {
    err << "zelwik-cli: " << path << ": " << RefusalReason(result, format) << "; file refused\n";
    return false;
  }
  ShowLoaded(image, view);
  return true;
}

void ShowLoaded(const Image& image, View& view) {
  // What the HEX load shows: the listing, then the extent of the image.
  view.ClearLog();
  ShowListing(image, view);
  view.SetStatus(" Odczytano " + std::to_string(image.ImageEnd + 1) + " bajtów.");
}

}  // namespace zelwik::cli
