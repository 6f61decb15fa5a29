#include "signin/karvo_db_consts.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "db/mysql/cmysql.h"
#include "screen/console.h"
#include "util/error.h"
#include "util/servers.h"

namespace brenvo::signin {
namespace {

constexpr const char* kOwner = "Module modKarvoDBConsts";

struct IfAddrsDeleter {
  void operator()(ifaddrs* a) const { freeifaddrs(a); }
};

}  // namespace

std::vector<NetAdapter> IpEnabledAdapters() {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) throw BrenvoError(5, "The network adapters cannot be listed");
  std::unique_ptr<ifaddrs, IfAddrsDeleter> list(raw);

  // getifaddrs gives one entry per address; an interface's link-layer entry
  // (AF_PACKET, with the hardware address) and its IP entries are apart.
  struct Seen {
    size_t order;
    bool usable = true;
    bool hasIp = false;
    std::optional<std::string> mac;
  };
  std::map<std::string, Seen> seen;
  size_t next = 0;
  for (ifaddrs* a = list.get(); a; a = a->ifa_next) {
    if (!a->ifa_name) continue;
    auto [it, fresh] = seen.try_emplace(a->ifa_name, Seen{next, true, false, std::nullopt});
    if (fresh) ++next;
    Seen& s = it->second;
    if (!(a->ifa_flags & IFF_UP) || (a->ifa_flags & IFF_LOOPBACK)) s.usable = false;
    if (!a->ifa_addr) continue;
    int family = a->ifa_addr->sa_family;
    if (family == AF_INET || family == AF_INET6) {
      s.hasIp = true;
    } else if (family == AF_PACKET) {
      const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
      int n = std::min<int>(ll->sll_halen, sizeof ll->sll_addr);
      // An all-zero address (tunnels, some virtual links) is no address.
      if (n > 0 && std::any_of(ll->sll_addr, ll->sll_addr + n, [](unsigned char b) { return b != 0; })) {
        std::string text;
        for (int i = 0; i < n; ++i) {
          char part[4];
          std::snprintf(part, sizeof part, i ? ":%02X" : "%02X", ll->sll_addr[i]);
          text += part;
        }
        s.mac = text;
      }
    }
  }

  std::vector<std::pair<size_t, NetAdapter>> ordered;
  for (auto& [name, s] : seen)
    if (s.usable && s.hasIp) ordered.push_back({s.order, NetAdapter{name, s.mac}});
  std::sort(ordered.begin(), ordered.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  std::vector<NetAdapter> out;
  for (auto& [order, a] : ordered) out.push_back(std::move(a));
  return out;
}

std::string GetAdminServerIP(const SettingsStore& settings) { return AdminServerAddress(settings, kProgramTitle); }

std::string MacText(const std::vector<NetAdapter>& adapters) {
  for (const auto& a : adapters) {
    if (!a.mac) continue;
    std::string t = *a.mac;
    t.erase(std::remove(t.begin(), t.end(), '-'), t.end());
    t.erase(std::remove(t.begin(), t.end(), ':'), t.end());
    return t;
  }
  return {};
}

std::string GetMyMacAddress(KarvoDbEnv& env) {
  try {
    return MacText(env.adapters ? env.adapters() : IpEnabledAdapters());
  } catch (...) {
    env.prompter.Message(TrapText(DescribeCurrentException(), "GetMyMacAddress", kOwner));
    return {};
  }
}

std::string GetAllowMyPC(KarvoDbEnv& env) {
  std::string result;
  try {
    const std::string mac = GetMyMacAddress(env);
    mysql::cMySQL db(env.prompter);
    if (db.real_connect(GetAdminServerIP(env.settings), kInHouseUser, kInHousePassword, kInHouseDb, kInHousePort, "",
                        0, false)) {
      // The MAC text is our own hexadecimal digits and goes in as it is.
      auto rs = db.query("SELECT user_id FROM user_mac WHERE mac_addr = '" + mac + "' AND block = 0");
      int32_t count = db.affected_rows();
      if (rs && count > 0) {
        // A fresh row set stands on its last row.
        rs->MoveFirst();
        result = rs->Text("user_id");
      }
      if (rs) rs->Close();
    }
    db.free_result();
  } catch (...) {
    env.prompter.Message(TrapText(DescribeCurrentException(), "GetAllowMyPC", kOwner));
  }
  return result;
}

std::string RefusalText(const std::string& mac) {
  return "허용되지 않은 컴퓨터입니다. 관리자에게 문의바랍니다.\r\nMAC: " + mac;
}

}  // namespace brenvo::signin
