#include "util/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
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
    const QString file = FileFor(app);
    // QSettings writes a new file beside the old one and renames it over,
    // keeping the old file's mode; so the file exists with its mode before
    // QSettings first writes it, and is narrowed again after.
    const QByteArray path = QFile::encodeName(file);
    int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::fchmod(fd, 0600);
      ::close(fd);
    }
    {
      QSettings s(file, QSettings::IniFormat);
      s.setValue(KeyPath(section, key), QString::fromStdString(value));
      s.sync();
    }
    ::chmod(path.constData(), 0600);
  }

 private:
  // The settings hold the remembered sign-in password in plain text: the
  // files are the user's alone (0600) in a folder that is the user's alone
  // (0700). The default folder is ours and is narrowed whatever its mode; a
  // folder named by the caller is made 0700 when it is made here, and an
  // existing one is left as the caller keeps it (it may be a shared one).
  QString FileFor(const std::string& app) const {
    const bool own = folder_.empty();
    QString dir = own ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/karvo"
                      : QString::fromStdString(folder_);
    const QByteArray d = QFile::encodeName(dir);
    struct stat st {};
    if (::stat(d.constData(), &st) != 0) {
      QDir().mkpath(dir);
      ::chmod(d.constData(), 0700);
    } else if (own && (st.st_mode & 077) != 0) {
      ::chmod(d.constData(), 0700);
    }
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
