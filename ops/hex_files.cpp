#include "ops/hex_files.h"

#include "image/hex_file.h"
#include "ops/texts.h"

namespace zelwik {

void ShowListing(const Image& image, View& view) {
  ListImage(image, [&view](const std::string& line) { view.AddLogLine(line); });
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
