// OpenMDB: where the host's files are looked for, the empty-DB message, the
// connection string and settings, and failures raised to the caller.
#include <gtest/gtest.h>

#include "db/jet/jet_connection.h"
#include "db/jet/jet_errors.h"
#include "db/open_mdb.h"
#include "jet_test_util.h"
#include "util/paths.h"
#include "util/settings_store.h"

namespace brenvo::test {
namespace {

// Runs OpenMDB and returns the description of the error it raised.
std::string OpenError(ado::Connection& conn, SettingsStore& settings, Prompter& p, bool empty) {
  try {
    OpenMDB(conn, settings, p, empty);
  } catch (const BrenvoError& e) {
    EXPECT_EQ(e.number(), jet::kErrFail);
    return e.description();
  }
  ADD_FAILURE() << "OpenMDB did not fail";
  return {};
}

TEST(OpenMDB, DefaultAppPathAndMissingFiles) {
  TempDir cfg;
  auto settings = MakeIniSettingsStore(cfg.str());
  ScriptedPrompter p;
  auto conn = jet::MakeJetConnection();
  std::string dflt = std::string(kDefaultAppRoot) + "Brenvo" + kDirSep + "DBS" + kDirSep + "dbMain.mdb";
  EXPECT_EQ(MdbFilePath(*settings, false), dflt);
  // A missing dbMain.mdb: no message, only the provider's error.
  EXPECT_EQ(OpenError(*conn, *settings, p, false), "Could not find file '" + dflt + "'.");
  EXPECT_TRUE(p.shown().empty());
  EXPECT_EQ(conn->State(), ado::adStateClosed);
  // The settings are applied before the open, even when it fails.
  EXPECT_EQ(conn->ConnectionTimeout(), 30);
  EXPECT_EQ(conn->GetCursorLocation(), ado::adUseClient);

  // A missing empty-dbMain.mdb: the message with the full path, then the error.
  std::string emptyPath = std::string(kDefaultAppRoot) + "Brenvo" + kDirSep + "DBS" + kDirSep + "empty-dbMain.mdb";
  EXPECT_EQ(OpenError(*conn, *settings, p, true), "Could not find file '" + emptyPath + "'.");
  ASSERT_EQ(p.shown().size(), 1u);
  EXPECT_EQ(p.shown()[0].text, "Empty DB를 찾을 수 없습니다.\r\n" + emptyPath);
  EXPECT_EQ(p.shown()[0].title, "");
  EXPECT_EQ(p.shown()[0].icon, Icon::None);
  EXPECT_FALSE(p.shown()[0].question);
}

TEST(OpenMDB, AppPathIsUsedAsStored) {
  TempDir cfg;
  auto settings = MakeIniSettingsStore(cfg.str());
  settings->Save("Brenvo", "Config", "AppPath", std::string("/srv/brenvo") + kDirSep);
  std::string path = std::string("/srv/brenvo") + kDirSep + kDirSep + "DBS" + kDirSep + "dbMain.mdb";
  EXPECT_EQ(MdbFilePath(*settings, false), path);
  EXPECT_EQ(MdbConnectionString(path),
            "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=wq3518");
}

TEST(OpenMDB, OpensBothHostFiles) {
  REQUIRE_FIXTURES();
  TempDir dir;
  auto dbs = dir.path() / "Brenvo" / "DBS";
  std::filesystem::create_directories(dbs);
  std::filesystem::copy_file(BrenvoFixtures() / "dbMain.mdb", dbs / "dbMain.mdb");
  std::filesystem::copy_file(BrenvoFixtures() / "empty-dbMain.mdb", dbs / "empty-dbMain.mdb");
  TempDir cfg;
  auto settings = MakeIniSettingsStore(cfg.str());
  settings->Save("Brenvo", "Config", "AppPath", (dir.path() / "Brenvo").string());
  ScriptedPrompter p;

  auto conn = jet::MakeJetConnection();
  EXPECT_TRUE(OpenMDB(*conn, *settings, p));
  EXPECT_EQ(conn->State(), ado::adStateOpen);
  EXPECT_EQ(std::get<int64_t>(conn->OpenQuery("SELECT COUNT(*) FROM sale_m")->GetValue(0)), 4000);
  conn->Close();

  auto empty = jet::MakeJetConnection();
  EXPECT_TRUE(OpenMDB(*empty, *settings, p, true));
  EXPECT_EQ(std::get<int64_t>(empty->OpenQuery("SELECT COUNT(*) FROM sale_m")->GetValue(0)), 0);
  EXPECT_TRUE(p.shown().empty());

  // An empty file saved with another password is refused with the host's one.
  std::filesystem::remove(dbs / "empty-dbMain.mdb");
  std::filesystem::copy_file(BrenvoFixtures() / "dbMain-otherpwd.mdb", dbs / "empty-dbMain.mdb");
  auto other = jet::MakeJetConnection();
  try {
    OpenMDB(*other, *settings, p, true);
    ADD_FAILURE() << "opened a file with another password";
  } catch (const BrenvoError& e) {
    EXPECT_EQ(e.number(), jet::kErrPassword);
  }
  EXPECT_TRUE(p.shown().empty());
}

}  // namespace
}  // namespace brenvo::test
