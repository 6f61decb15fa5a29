// The workstation allow-list against the test management server.
#include <gtest/gtest.h>

#include <cctype>

#include "inhouse_fixture.h"
#include "signin/karvo_db_consts.h"
#include "util/error.h"
#include "util/servers.h"

namespace brenvo::signin {
namespace {

using ::brenvo::test::ScriptedPrompter;
using test::InHouse;
using test::ProgramSettings;
using test::Separated;

std::function<std::vector<NetAdapter>()> Adapters(std::vector<NetAdapter> list) {
  return [list] { return list; };
}

TEST(AllowList, RegistrationsInForceAndBlocked) {
  InHouse db;
  REQUIRE_INHOUSE(db);
  ProgramSettings settings(db.host());
  ScriptedPrompter prompter;
  KarvoDbEnv env{prompter, *settings.store};

  const std::string blocked = db.NewMac(), mixed = db.NewMac(), unknown = db.NewMac();
  const std::string a = db.NewUser(), b = db.NewUser(), c = db.NewUser();
  db.Register(blocked, a, 1);
  db.Register(blocked, b, 2);
  db.Register(mixed, a, 1);
  db.Register(mixed, b, 0);
  db.Register(mixed, c, 0);

  env.adapters = Adapters({{"eth0", Separated(blocked, ':')}});
  EXPECT_EQ(GetAllowMyPC(env), "");
  env.adapters = Adapters({{"eth0", Separated(mixed, ':')}});
  EXPECT_EQ(GetAllowMyPC(env), b);  // the first row in force
  env.adapters = Adapters({{"eth0", Separated(unknown, '-')}});
  EXPECT_EQ(GetAllowMyPC(env), "");
  EXPECT_TRUE(prompter.shown().empty());
}

TEST(AllowList, OnlyTheFirstAdapterWithAnAddressCounts) {
  InHouse db;
  REQUIRE_INHOUSE(db);
  ProgramSettings settings(db.host());
  ScriptedPrompter prompter;
  KarvoDbEnv env{prompter, *settings.store};
  const std::string first = db.NewMac(), second = db.NewMac();
  const std::string user = db.NewUser();
  db.Register(second, user, 0);

  env.adapters = Adapters({{"tun0", std::nullopt}, {"eth0", Separated(first, '-')}, {"eth1", Separated(second, ':')}});
  EXPECT_EQ(GetMyMacAddress(env), first);
  EXPECT_EQ(GetAllowMyPC(env), "");  // another adapter's registration does not help

  db.Register(first, user, 0);
  EXPECT_EQ(GetAllowMyPC(env), user);
}

TEST(AllowList, MacText) {
  EXPECT_EQ(MacText({{"a", "00-1A-2B-3C-4D-5E"}}), "001A2B3C4D5E");
  EXPECT_EQ(MacText({{"a", "00:1A:2B:3C:4D:5E"}}), "001A2B3C4D5E");
  EXPECT_EQ(MacText({{"a", "00:1a:2b:3c:4d:5e"}}), "001a2b3c4d5e");  // letters as reported
  EXPECT_EQ(MacText({{"a", std::nullopt}}), "");
  EXPECT_EQ(MacText({}), "");
}

TEST(AllowList, NoAdapterLooksUpAnEmptyAddress) {
  InHouse db;
  REQUIRE_INHOUSE(db);
  ProgramSettings settings(db.host());
  ScriptedPrompter prompter;
  KarvoDbEnv env{prompter, *settings.store, Adapters({})};
  EXPECT_EQ(GetMyMacAddress(env), "");
  EXPECT_EQ(GetAllowMyPC(env), "");
  EXPECT_TRUE(prompter.shown().empty());
  EXPECT_EQ(RefusalText(""), "허용되지 않은 컴퓨터입니다. 관리자에게 문의바랍니다.\r\nMAC: ");
}

TEST(AllowList, UnreachableServerShowsTheClientMessageAndFindsNobody) {
  // Nothing listens there: the test servers use other numbers of this prefix.
  std::string host = ::brenvo::test::TestEnv("ADMIN_HOST");
  if (host.empty()) GTEST_SKIP() << "test server not started: BRENVO_TEST_ADMIN_HOST unset";
  host = host.substr(0, host.rfind('.')) + ".99";
  ProgramSettings settings(host);
  ScriptedPrompter prompter;
  KarvoDbEnv env{prompter, *settings.store, Adapters({{"eth0", "5A:00:00:00:00:01"}})};
  EXPECT_EQ(GetAllowMyPC(env), "");
  ASSERT_EQ(prompter.messages().size(), 1u);
  EXPECT_EQ(prompter.messages()[0].rfind("Error 200", 0), 0u) << prompter.messages()[0];
  EXPECT_NE(prompter.messages()[0].find("데이터베이스 서버에 접속할 수 없습니다."), std::string::npos);
}

TEST(AllowList, AdapterListFailureIsReported) {
  ProgramSettings settings("127.0.0.1");
  ScriptedPrompter prompter;
  KarvoDbEnv env{prompter, *settings.store,
                 [] () -> std::vector<NetAdapter> { throw BrenvoError(5, "no adapters"); }};
  EXPECT_EQ(GetMyMacAddress(env), "");
  ASSERT_EQ(prompter.messages().size(), 1u);
  EXPECT_EQ(prompter.messages()[0], "Error 5 (no adapters) in procedure GetMyMacAddress of Module modKarvoDBConsts");
}

TEST(AllowList, ManagementServerAddressSetting) {
  ::brenvo::test::TempDir dir;
  auto store = MakeIniSettingsStore(dir.str());
  EXPECT_EQ(GetAdminServerIP(*store), kDefaultAdminServer);
  store->Save(kProgramTitle, "Config", "AdminServer", "192.0.2.7");
  EXPECT_EQ(GetAdminServerIP(*store), "192.0.2.7");
}

// The system's own list: up, with an IP address, never loopback; a hardware
// address, where there is one, as six colon-separated hex pairs.
TEST(AllowList, SystemAdapterList) {
  for (const auto& a : IpEnabledAdapters()) {
    EXPECT_NE(a.name, "lo");
    if (!a.mac) continue;
    ASSERT_EQ(a.mac->size(), 17u) << *a.mac;
    for (size_t i = 0; i < a.mac->size(); ++i) {
      if (i % 3 == 2)
        EXPECT_EQ((*a.mac)[i], ':');
      else
        EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>((*a.mac)[i])));
    }
  }
}

}  // namespace
}  // namespace brenvo::signin
