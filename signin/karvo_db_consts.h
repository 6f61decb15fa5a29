// modKarvoDBConsts: the management server's address and the workstation
// allow-list. The in-house table user_mac binds the MAC address of a
// workstation's first IP-enabled adapter to one technician's user ID; a
// workstation without a registration in force may not use the console.
//
// Plain C++ (no window), so the administration side can take the management
// server's address from here as well.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "util/credentials.h"
#include "util/prompter.h"
#include "util/settings_store.h"

namespace brenvo::signin {

// The in-house database on the management server, as both the allow-list
// and the sign-in window reach it.
using ::brenvo::kInHouseDb;
using ::brenvo::kInHousePassword;
using ::brenvo::kInHouseUser;
inline constexpr int kInHousePort = 3306;

// One network adapter that has IP enabled, as the platform lists it.
struct NetAdapter {
  std::string name;
  std::optional<std::string> mac;  // "00:1A:2B:3C:4D:5E"; none for adapters without one
};

// The adapters that are up, have an IP address and are not loopback, in the
// system's order.
std::vector<NetAdapter> IpEnabledAdapters();

// What the module needs from around it: messages, the settings (for the
// management server's address) and the adapter list (the system's by default).
struct KarvoDbEnv {
  Prompter& prompter;
  const SettingsStore& settings;
  std::function<std::vector<NetAdapter>()> adapters = IpEnabledAdapters;
};

// The management server's address: built in, or the "AdminServer" key of
// section "Config" of the program's own settings.
std::string GetAdminServerIP(const SettingsStore& settings);

// The MAC of the first listed adapter that has one, with every "-" and ":"
// removed ("001A2B3C4D5E"), letters as reported; "" when none has one.
std::string MacText(const std::vector<NetAdapter>& adapters);

// MacText of env's adapters. A failure is reported (procedure
// GetMyMacAddress) and gives "".
std::string GetMyMacAddress(KarvoDbEnv& env);

// The user ID registered for this workstation with block = 0 (the first such
// row), or "" when there is none or the lookup failed. A failed connection
// has already been reported by the client class; any other failure is
// reported as a trap of procedure GetAllowMyPC.
std::string GetAllowMyPC(KarvoDbEnv& env);

// The refusal shown when GetAllowMyPC found nobody.
std::string RefusalText(const std::string& mac);

}  // namespace brenvo::signin
