// What the server-chore tests share: a console without a window pointed at
// the test servers, and the management table with rows of a test's own.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "admin/window_db.h"
#include "mariadb_test_db.h"
#include "support/test_support.h"
#include "transfer/console_state.h"
#include "util/settings_store.h"

namespace brenvo::test {

// Records every caption the window was given; cancel stands for "중지".
class RecordingConsole : public ConsoleState {
 public:
  using ConsoleState::ConsoleState;
  void SetCaption(const std::string& c) override {
    captions.push_back(c);
    ConsoleState::SetCaption(c);
  }
  bool CancelRequested() const override { return cancel; }
  std::vector<std::string> captions;
  std::atomic<bool> cancel{false};
};

class AdminFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_TEST_ENV("ADMIN_HOST");
    admin = AdminServer();
    cs = CsServer();
    local = LocalServer();
    settings = MakeMemorySettingsStore();
    console = std::make_unique<RecordingConsole>(prompter, *settings, folder.str());
    settings->Save(kProgramTitle, "Config", "AdminServer", admin.host);
    // The management account and table, as the company's server has them.
    // Every test adds rows under names of its own only.
    RootExec(admin,
             "CREATE USER IF NOT EXISTS app_admin@'%' IDENTIFIED BY 'bz2946';"
             "GRANT ALL ON app_admin.* TO app_admin@'%';"
             "CREATE TABLE IF NOT EXISTS app_admin.app_priv (app_dbname VARCHAR(64) NOT NULL,"
             " user_id VARCHAR(64) NOT NULL, app_active INT NOT NULL DEFAULT 1, app_dbip VARCHAR(64) NOT NULL DEFAULT '')");
  }
  void TearDown() override {
    if (!admin.started()) return;
    for (const auto& n : ownRows) RootExec(admin, "DELETE FROM app_admin.app_priv WHERE app_dbname = " + Lit(n));
    for (const auto& u : ownAccounts) DropAccount(cs, u), DropAccount(local, u);
    for (const auto& [server, db] : ownDbs) DropDatabase(server, db);
  }

  // A row of app_priv that this test removes again.
  void AddPriv(const std::string& dbname, const std::string& userId, int active, const std::string& ip) {
    ownRows.push_back(dbname);
    RootExec(admin, "INSERT INTO app_admin.app_priv VALUES (" + Lit(dbname) + ", " + Lit(userId) + ", " +
                        std::to_string(active) + ", " + Lit(ip) + ")");
  }
  std::string Active(const std::string& dbname) {
    auto rows = RootQuery(admin, "SELECT app_active FROM app_admin.app_priv WHERE app_dbname = " + Lit(dbname));
    return rows.empty() ? "" : rows[0][0];
  }
  // A CS user with the fixed password on the CS server, removed at the end.
  void AddCsUser(const std::string& user, const std::string& db) {
    ownAccounts.push_back(user);
    CreateAccount(cs, user, admin::kCsUserPassword, db);
  }
  // A database of this test on server, dropped at the end.
  void AddDatabase(const MariaServer& server, const std::string& db) {
    CreateDatabase(server, db);
    ownDbs.emplace_back(server, db);
  }
  // A literal for the few texts the tests make themselves (no quotes in them
  // unless a test means it: those are doubled).
  static std::string Lit(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
      if (c == '\'' || c == '\\') out += c;
      out += c;
    }
    return out + "'";
  }
  void Type(const std::string& id, const std::string& db, const std::string& host = {}) {
    console->SetText(Control::Text1_0, id);
    console->SetText(Control::Text1_1, db);
    console->SetText(Control::cmbHost, host);
  }

  MariaServer admin, cs, local;
  ScriptedPrompter prompter;
  TempDir folder;
  std::unique_ptr<SettingsStore> settings;
  std::unique_ptr<RecordingConsole> console;
  std::vector<std::string> ownRows, ownAccounts;
  std::vector<std::pair<MariaServer, std::string>> ownDbs;
};

}  // namespace brenvo::test
