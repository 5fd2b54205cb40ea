#pragma once

#include <QSettings>
#include <QString>

#include "ui/settings.h"

namespace zelwik::app {

// The window's settings through QSettings: the user's configuration folder by the platform's
// convention (~/.config/zelwik/zelwik.conf), or the INI file a test names. A file that is
// corrupt or cannot be read is not read at all: the window starts from its defaults.
class QtSettingsStore : public ui::SettingsStore {
 public:
  QtSettingsStore();
  explicit QtSettingsStore(const QString& iniFile);

  std::optional<std::string> Get(const std::string& key) const override;
  void Set(const std::string& key, const std::string& value) override;
  void Flush() override;
  void Clear() override;

 private:
  void CheckReadable();

  QSettings settings_;
  bool readable_ = true;
};

}  // namespace zelwik::app
