#include "ui/settings.h"

#include <algorithm>

#include "image/file_io.h"
#include "link/chips.h"
#include "ui/port_menu.h"
#include "ui/window_description.h"

namespace zelwik::ui {
namespace {

// Longer settings are no paths or ports this program wrote.
constexpr std::size_t kMaxValueBytes = 4096;
constexpr std::size_t kMaxCaptionPathBytes = 60;

#ifdef _WIN32
constexpr const char* kSeparators = "\\/";
#else
constexpr const char* kSeparators = "/";
#endif

// A value that came from a file anyone may have edited: a path or a port name is one line of text
// without control characters.
std::optional<std::string> Checked(const std::optional<std::string>& value) {
  if (!value || value->empty() || value->size() > kMaxValueBytes) return {};
  for (const char c : *value)
    if (static_cast<unsigned char>(c) < 0x20) return {};
  return value;
}

std::string RecentKey(std::size_t i) { return "recent" + std::to_string(i + 1); }

}  // namespace

Remembered ReadRemembered(const SettingsStore& store) {
  Remembered r;
  if (auto port = Checked(store.Get("port"))) r.port = *port;
  if (auto chip = Checked(store.Get("chip"))) {
    if (const ChipInfo* info = FindChipByName(*chip); info && ChipItemName(info->code))
      r.chip = ToInt(info->code);
  }
  if (auto folder = Checked(store.Get("folder"))) r.folder = *folder;
  for (std::size_t i = 0; i < kMaxRecentFiles; ++i) {
    const auto path = Checked(store.Get(RecentKey(i)));
    if (path && std::find(r.recent.begin(), r.recent.end(), *path) == r.recent.end())
      r.recent.push_back(*path);
  }
  return r;
}

void WriteRemembered(SettingsStore& store, const Remembered& r) {
  store.Set("port", r.port);
  const ChipInfo* chip = FindChip(r.chip);
  store.Set("chip", chip && chip->cliName ? chip->cliName : "");
  store.Set("folder", r.folder);
  for (std::size_t i = 0; i < kMaxRecentFiles; ++i)
    store.Set(RecentKey(i), i < r.recent.size() ? r.recent[i] : "");
  store.Flush();
}

void AddRecentFile(std::vector<std::string>& recent, const std::string& path) {
  std::erase(recent, path);
  recent.insert(recent.begin(), path);
  if (recent.size() > kMaxRecentFiles) recent.resize(kMaxRecentFiles);
}

std::string FileNameOf(const std::string& path) {
  const std::size_t at = path.find_last_of(kSeparators);
  return at == std::string::npos ? path : path.substr(at + 1);
}

std::string FolderOf(const std::string& path) {
  const std::size_t at = path.find_last_of(kSeparators);
  if (at == std::string::npos) return {};
  return path.substr(0, at == 0 ? 1 : at);
}

std::string RecentFileCaption(std::size_t index, const std::string& path) {
  std::string shown = path;
  if (shown.size() > kMaxCaptionPathBytes) {
    // Keep the end, from a separator when there is one, never inside a UTF-8 sequence.
    std::size_t from = shown.size() - kMaxCaptionPathBytes;
    const std::size_t separator = shown.find_first_of(kSeparators, from);
    if (separator != std::string::npos && separator + 1 < shown.size()) from = separator;
    while (from < shown.size() && (static_cast<unsigned char>(shown[from]) & 0xC0) == 0x80) ++from;
    shown.replace(0, from, "\u2026");
  }
  std::string caption = "&";
  caption += std::to_string(index + 1);
  caption += ' ';
  caption += PlainText(shown, true, 4 * kMaxCaptionPathBytes);
  return caption;
}

std::string WindowTitle(const std::optional<std::string>& path) {
  std::string title = MainWindow().caption;
  if (path) title += " - " + PlainText(FileNameOf(*path), false, 4 * kMaxCaptionPathBytes);
  return title;
}

FileSettingsStore::FileSettingsStore(std::string path) : path_(std::move(path)) {
  std::string text;
  if (!ReadWholeFile(path_, text)) return;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (line.empty() || line[0] == '[' || line[0] == ';' || equals == std::string::npos ||
        equals == 0)
      continue;
    values_[line.substr(0, equals)] = line.substr(equals + 1);
  }
}

std::optional<std::string> FileSettingsStore::Get(const std::string& key) const {
  const auto it = values_.find(key);
  if (it == values_.end()) return {};
  return it->second;
}

void FileSettingsStore::Set(const std::string& key, const std::string& value) {
  if (value.empty())
    values_.erase(key);
  else
    values_[key] = value;
}

void FileSettingsStore::Flush() {
  std::string text = "[zelwik]\r\n";
  for (const auto& [key, value] : values_) {
    // A value that would break its line is not kept.
    if (value.find_first_of("\r\n") != std::string::npos) continue;
    text += key + "=" + value + "\r\n";
  }
  ReplaceWholeFile(path_, text);
}

void FileSettingsStore::Clear() {
  values_.clear();
  Flush();
}

}  // namespace zelwik::ui
