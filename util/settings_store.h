// Per-user string settings addressed by application name, section and key,
// with a default on read. On Linux each application name is one INI file in
// the user's configuration folder (QSettings), the section its group.
#pragma once

#include <memory>
#include <string>

namespace brenvo {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::string Get(const std::string& app, const std::string& section, const std::string& key,
                          const std::string& defaultValue = {}) const = 0;
  // Write failures are not reported: a setting that cannot be saved is lost.
  virtual void Save(const std::string& app, const std::string& section, const std::string& key,
                    const std::string& value) = 0;
};

// The QSettings-backed store. folder empty: the user's configuration folder;
// otherwise the INI files live in folder (tests use a temporary one).
std::unique_ptr<SettingsStore> MakeIniSettingsStore(const std::string& folder = {});

// Settings held in memory for one process (the command-line tools).
std::unique_ptr<SettingsStore> MakeMemorySettingsStore();

}  // namespace brenvo
