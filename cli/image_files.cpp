#include "cli/image_files.h"

#include "image/binary_file.h"
#include "image/srec.h"
#include "image/strict_hex.h"
#include "link/chips.h"
#include "ops/hex_files.h"
#include "ops/texts.h"

namespace zelwik::cli {
namespace {

std::string Refusal(const LoadResult& result, FileFormat format) {
  using Error = LoadResult::Error;
  const std::string at = "line " + std::to_string(result.line) + ": ";
  switch (result.error) {
    case Error::None:
    case Error::Unreadable:
      break;
    case Error::TooLarge:
      return format == FileFormat::Binary ? "more than 65536 bytes, larger than any chip"
                                          : "too large for an image file";
    case Error::BadSyntax:
      return at + (format == FileFormat::Srec ? "not an S-record" : "not an Intel HEX record") +
             " (or cut short)";
    case Error::BadChecksum:
      return at + "checksum does not match";
    case Error::AddressTooHigh:
      return at + "data above address FFFF";
    case Error::BadCount:
      return at + "record count does not match the data records before it";
    case Error::NoEndRecord:
      return at + "end record missing (file cut short?)";
  }
  return {};
}

}  // namespace

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
    err << "zelwik-cli: " << path << ": " << Refusal(result, format) << "; file refused\n";
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

bool SaveImage(Image& image, const std::string& path, FileFormat format, int chipSize, View& view) {
  int written = 0;
  switch (format) {
    case FileFormat::Hex:
      return SaveHexFileShown(image, path, view);
    case FileFormat::Binary:
      written = SaveBinaryFile(image, chipSize, path) ? chipSize : -1;
      break;
    case FileFormat::Srec:
      written = SaveSrecFile(image, path);
      break;
  }
  if (written < 0) {
    view.SetStatus(kTextIoError);
    return false;
  }
  view.SetStatus(" Zapisano " + std::to_string(written) + " bajtów.");
  return true;
}

}  // namespace zelwik::cli
