// Fixed server addresses built into the program. A deployment or a test may
// point the program elsewhere with a key in section "Config" of the program's
// own settings, without a rebuild.
#pragma once

#include <string>
#include <vector>

#include "util/settings_store.h"

namespace brenvo {

// The three CS database servers offered in the host list after "localhost".
inline const std::vector<std::string>& DefaultCsHosts() {
  static const std::vector<std::string> hosts = {"203.0.113.21", "203.0.113.22", "203.0.113.23"};
  return hosts;
}

// Host list entries 1..3, each overridable by "CsHost1".."CsHost3".
inline std::vector<std::string> CsHostList(const SettingsStore& s, const std::string& programTitle) {
  std::vector<std::string> out;
  const auto& d = DefaultCsHosts();
  for (size_t i = 0; i < d.size(); ++i)
    out.push_back(s.Get(programTitle, "Config", "CsHost" + std::to_string(i + 1), d[i]));
  return out;
}

// The management server (in-house database kv_inhouse, management tables
// app_admin); key "AdminServer".
inline constexpr const char* kDefaultAdminServer = "203.0.113.10";
inline std::string AdminServerAddress(const SettingsStore& s, const std::string& programTitle) {
  return s.Get(programTitle, "Config", "AdminServer", kDefaultAdminServer);
}

// The update server that holds the checker and the replacement program; key
// "UpdateServer". The value goes between "http://" and the download path, so
// it may carry a port ("host:8080").
inline constexpr const char* kDefaultUpdateServer = "203.0.113.30";
inline std::string UpdateServerAddress(const SettingsStore& s, const std::string& programTitle) {
  return s.Get(programTitle, "Config", "UpdateServer", kDefaultUpdateServer);
}

}  // namespace brenvo
