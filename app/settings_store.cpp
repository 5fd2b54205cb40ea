#include "app/settings_store.h"

namespace zelwik::app {

QtSettingsStore::QtSettingsStore() : settings_(QSettings::UserScope, "zelwik", "zelwik") {
  CheckReadable();
}

QtSettingsStore::QtSettingsStore(const QString& iniFile)
    : settings_(iniFile, QSettings::IniFormat) {
  CheckReadable();
}

void QtSettingsStore::CheckReadable() {
  (void)settings_.allKeys();
  readable_ = settings_.status() == QSettings::NoError;
}

std::optional<std::string> QtSettingsStore::Get(const std::string& key) const {
  if (!readable_) return std::nullopt;
  const QVariant value = settings_.value(QString::fromStdString(key));
  if (!value.isValid() || value.typeId() != QMetaType::QString) return std::nullopt;
  return value.toString().toStdString();
}

void QtSettingsStore::Set(const std::string& key, const std::string& value) {
  if (value.empty())
    settings_.remove(QString::fromStdString(key));
  else
    settings_.setValue(QString::fromStdString(key), QString::fromStdString(value));
}

void QtSettingsStore::Flush() { settings_.sync(); }

void QtSettingsStore::Clear() {
  settings_.clear();
  settings_.sync();
  readable_ = true;
}

}  // namespace zelwik::app
