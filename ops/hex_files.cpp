#include "ops/hex_files.h"

#include <cstdio>

#include "image/crc32.h"
#include "image/hex_file.h"
#include "ops/texts.h"

namespace zelwik {

void ShowListing(const Image& image, View& view) {
  ListImage(image, [&view](const std::string& line) { view.AddLogLine(line); });
}

std::string ChecksumText(const Image& image) {
  const std::string crc = Crc32Text(ImageCrc32(image));
  if (image.ImageEnd < 0) return " Suma CRC-32 (brak danych): " + crc;
  char range[16];
  std::snprintf(range, sizeof range, "0000-%04X", static_cast<unsigned>(image.ImageEnd));
  return std::string(" Suma CRC-32 (") + range + "): " + crc;
}

bool LoadHexFileShown(Image& image, const std::string& path, View& view) {
  view.ClearLog();
  const std::optional<int> bytes = LoadHexFile(image, path);
  if (!bytes) {
    view.SetStatus(kTextIoError);
    view.Pause(kPauseFileErrorMs);
  }
  ShowListing(image, view);
  view.SetStatus(" Odczytano " + std::to_string(image.ImageEnd + 1) + " bajtów.");
  return bytes.has_value();
}

bool SaveHexFileShown(Image& image, const std::string& path, View& view) {
  const std::optional<int> bytes = SaveHexFile(image, path);
  if (!bytes) {
    view.SetStatus(kTextIoError);
    return false;
  }
  view.SetStatus(" Zapisano " + std::to_string(*bytes) + " bajtów.");
  return true;
}

}  // namespace zelwik
