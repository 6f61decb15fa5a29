#include "util/settings_store.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <map>

namespace brenvo {
namespace {

class IniSettingsStore : public SettingsStore {
 public:
  explicit IniSettingsStore(std::string folder) : folder_(std::move(folder)) {}

  std::string Get(const std::string& app, const std::string& section, const std::string& key,
                  const std::string& defaultValue) const override {
    QSettings s(FileFor(app), QSettings::IniFormat);
    QVariant v = s.value(KeyPath(section, key));
    if (!v.isValid()) return defaultValue;
    return v.toString().toStdString();
  }

  void Save(const std::string& app, const std::string& section, const std::string& key,
            const std::string& value) override {
    QSettings s(FileFor(app), QSettings::IniFormat);
    s.setValue(KeyPath(section, key), QString::fromStdString(value));
    s.sync();
  }

 private:
  QString FileFor(const std::string& app) const {
    QString dir = folder_.empty()
                      ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/karvo"
                      : QString::fromStdString(folder_);
    QDir().mkpath(dir);
    return dir + "/" + QString::fromStdString(app) + ".ini";
  }
  static QString KeyPath(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + "/" + QString::fromStdString(key);
  }

  std::string folder_;
};

class MemorySettingsStore : public SettingsStore {
 public:
  std::string Get(const std::string& app, const std::string& section, const std::string& key,
                  const std::string& defaultValue) const override {
    auto it = values_.find(app + '\x1f' + section + '\x1f' + key);
    return it == values_.end() ? defaultValue : it->second;
  }
  void Save(const std::string& app, const std::string& section, const std::string& key,
            const std::string& value) override {
    values_[app + '\x1f' + section + '\x1f' + key] = value;
  }

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace

std::unique_ptr<SettingsStore> MakeMemorySettingsStore() { return std::make_unique<MemorySettingsStore>(); }

std::unique_ptr<SettingsStore> MakeIniSettingsStore(const std::string& folder) {
  return std::make_unique<IniSettingsStore>(folder);
}

}  // namespace brenvo
