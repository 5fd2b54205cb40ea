#include "ops/file_formats.h"

#include <memory>

#include "image/binary_file.h"
#include "image/hex_file.h"
#include "image/srec.h"
#include "link/chips.h"
#include "ops/hex_files.h"
#include "ops/texts.h"

namespace zelwik {
namespace {

bool EndsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(),
                                                      suffix.data(), suffix.size()) == 0;
}

std::string LoadedText(const Image& image) {
  return " Odczytano " + std::to_string(image.ImageEnd + 1) + " bajtów.";
}

}  // namespace

std::optional<FileFormat> FormatNamed(std::string_view name) {
  const std::string lower = Lower(name);
  if (lower == "hex") return FileFormat::Hex;
  if (lower == "bin") return FileFormat::Binary;
  if (lower == "srec") return FileFormat::Srec;
  return {};
}

FileFormat FormatOfFile(const std::string& path) {
  const std::string lower = Lower(path);
  if (EndsWith(lower, ".bin")) return FileFormat::Binary;
  for (const char* ext : {".s19", ".srec", ".mot"})
    if (EndsWith(lower, ext)) return FileFormat::Srec;
  return FileFormat::Hex;
}

std::string RefusalText(const LoadResult& result) {
  using Error = LoadResult::Error;
  const std::string at = "wiersz " + std::to_string(result.line) + ": ";
  switch (result.error) {
    case Error::None:
      return {};
    case Error::Unreadable:
      return "błąd odczytu";
    case Error::TooLarge:
      return "za duży";
    case Error::BadSyntax:
      return at + "błędny zapis";
    case Error::BadChecksum:
      return at + "błędna suma kontrolna";
    case Error::AddressTooHigh:
      return at + "adres powyżej FFFF";
    case Error::BadCount:
      return at + "zła liczba rekordów";
    case Error::NoEndRecord:
      return at + "brak rekordu końca";
  }
  return {};
}

LoadResult LoadAnyFile(Image& image, const std::string& path) {
  switch (FormatOfFile(path)) {
    case FileFormat::Binary:
      return LoadBinaryFile(image, path);
    case FileFormat::Srec:
      return LoadSrecFile(image, path);
    case FileFormat::Hex:
      break;
  }
  auto scratch = std::make_unique<Image>();
  if (!LoadHexFile(*scratch, path)) return {LoadResult::Error::Unreadable, 0};
  image = *scratch;
  return {};
}

bool LoadFileShown(Image& image, const std::string& path, View& view) {
  if (FormatOfFile(path) == FileFormat::Hex) return LoadHexFileShown(image, path, view);
  const LoadResult result = LoadAnyFile(image, path);
  if (result.error == LoadResult::Error::Unreadable) {
    view.SetStatus(kTextIoError);
    view.Pause(kPauseFileErrorMs);
    return false;
  }
  if (!result.Ok()) {
    view.SetStatus(" Plik odrzucony, " + RefusalText(result));
    view.Pause(kPauseFileErrorMs);
    return false;
  }
  view.ClearLog();
  ShowListing(image, view);
  view.SetStatus(LoadedText(image));
  return true;
}

bool SaveFileShown(Image& image, const std::string& path, View& view) {
  FindImageEnd(image);
  return SaveFileShown(image, path, FormatOfFile(path), image.ImageEnd + 1, view);
}

bool SaveFileShown(Image& image, const std::string& path, FileFormat format, int binaryBytes,
                   View& view) {
  int written = -1;
  switch (format) {
    case FileFormat::Hex:
      return SaveHexFileShown(image, path, view);
    case FileFormat::Binary:
      written = SaveBinaryFile(image, binaryBytes, path) ? binaryBytes : -1;
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

std::string RefusalReason(const LoadResult& result, FileFormat format) {
  using Error = LoadResult::Error;
  const std::string at = "line " + std::to_string(result.line) + ": ";
  switch (result.error) {
    case Error::None:
      return {};
    case Error::Unreadable:
      return "cannot be read";
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

}  // namespace zelwik
