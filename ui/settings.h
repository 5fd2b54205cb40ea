#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zelwik::ui {

// Where the window keeps what it remembers between starts: the Qt window through QSettings,
// zelwik.exe in an INI file of its own. A store that cannot be read answers nothing; one that
// cannot be written forgets. Values are UTF-8 (paths as the file functions take them).
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::optional<std::string> Get(const std::string& key) const = 0;
  // An empty value removes the key.
  virtual void Set(const std::string& key, const std::string& value) = 0;
  // Makes what was set durable.
  virtual void Flush() {}
  // Forgets everything (--reset-settings).
  virtual void Clear() = 0;
};

inline constexpr std::size_t kMaxRecentFiles = 6;

// What the window remembers. Every value read is checked: one that is not valid is its default.
struct Remembered {
  std::string port = "COM2";  // State::PortName
  int chip = 0;               // State::ChipType, one the Układ menu offers
  std::string folder;         // of the last file loaded or saved; "" for the dialogs' own choice
  std::vector<std::string> recent;  // files loaded or saved, the latest first
};
Remembered ReadRemembered(const SettingsStore& store);
void WriteRemembered(SettingsStore& store, const Remembered& remembered);

// The path goes first, an earlier entry of it is dropped, and the list keeps kMaxRecentFiles.
void AddRecentFile(std::vector<std::string>& recent, const std::string& path);

// The parts of a path, '\\' a separator too on Windows.
std::string FileNameOf(const std::string& path);
std::string FolderOf(const std::string& path);

// A recent file's menu caption, UTF-8 with its accelerator: "&1 /home/ela/fw/blink.hex", the
// front of a long path left out ("&2 …/build/release/blink.hex").
std::string RecentFileCaption(std::size_t index, const std::string& path);
// The window's title: the program's name, then the loaded file's when there is one.
std::string WindowTitle(const std::optional<std::string>& path);

// Lines of "key=value" in a file, read once at construction and written whole, by replacing the
// file, at each Flush(). Unparsable lines are ignored and a file that cannot be read counts as
// empty; a failed write leaves the old file.
class FileSettingsStore : public SettingsStore {
 public:
  explicit FileSettingsStore(std::string path);
  std::optional<std::string> Get(const std::string& key) const override;
  void Set(const std::string& key, const std::string& value) override;
  void Flush() override;
  void Clear() override;

 private:
  std::string path_;
  std::map<std::string, std::string> values_;
};

}  // namespace zelwik::ui
