// The in-house tables on the test management server, and rows that belong
// to one test only: every test registers MAC addresses and user IDs made
// from its process id and a counter, so tests may run side by side on the
// same kv_inhouse tables.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

#include "db/mysql/cmysql.h"
#include "signin/karvo_db_consts.h"
#include "support/test_support.h"
#include "transfer/console_state.h"
#include "util/settings_store.h"

namespace brenvo::signin::test {

class InHouse {
 public:
  // Connects as root and makes sure the tables and the kv_inhouse account exist.
  InHouse() : db_(prompter_) {
    host_ = ::brenvo::test::TestEnv("ADMIN_HOST");
    if (host_.empty()) return;
    ok_ = db_.real_connect(host_, "root", ::brenvo::test::TestEnv("ADMIN_ROOT_PASSWORD"), "kv_inhouse", 3306, "", 0,
                           true);
    if (!ok_) return;
    Exec("CREATE TABLE IF NOT EXISTS user (id VARCHAR(32) NOT NULL PRIMARY KEY, name VARCHAR(50) NOT NULL "
         "DEFAULT '', password2 VARCHAR(41) NOT NULL DEFAULT '', hidden INT NOT NULL DEFAULT 0)");
    Exec("CREATE TABLE IF NOT EXISTS user_mac (mac_addr VARCHAR(12) NOT NULL, user_id VARCHAR(32) NOT NULL, "
         "block INT NOT NULL DEFAULT 0, KEY (mac_addr))");
    Exec("CREATE USER IF NOT EXISTS 'kv_inhouse'@'%' IDENTIFIED BY 'tkcx4803'");
    Exec("GRANT SELECT ON kv_inhouse.* TO 'kv_inhouse'@'%'");
  }
  ~InHouse() {
    if (!ok_) return;
    for (const auto& id : users_) Exec("DELETE FROM user WHERE id = '" + id + "'");
    for (const auto& mac : macs_) Exec("DELETE FROM user_mac WHERE mac_addr = '" + mac + "'");
  }

  bool ok() const { return ok_; }
  const std::string& host() const { return host_; }

  // A MAC text (12 upper-case hex digits) and a user ID no other test uses.
  std::string NewMac() {
    char buf[16];
    std::snprintf(buf, sizeof buf, "5A%06X%04X", static_cast<unsigned>(::getpid()) & 0xFFFFFF, ++counter_ & 0xFFFF);
    macs_.push_back(buf);
    return buf;
  }
  std::string NewUser() {
    std::string id = "t" + std::to_string(::getpid()) + "_" + std::to_string(++counter_);
    users_.push_back(id);
    return id;
  }

  void Register(const std::string& mac, const std::string& userId, int block) {
    Exec("INSERT INTO user_mac (mac_addr, user_id, block) VALUES ('" + mac + "', '" + userId + "', " +
         std::to_string(block) + ")");
  }
  // passwordLiteral is the password as an SQL literal body, escaped by the test.
  void AddUser(const std::string& id, const std::string& passwordLiteral, int hidden = 0) {
    Exec("INSERT INTO user (id, name, password2, hidden) VALUES ('" + id + "', 'Tester', SHA1('" + passwordLiteral +
         "'), " + std::to_string(hidden) + ")");
  }
  void Exec(const std::string& sql) {
    db_.query(sql);
    ASSERT_TRUE(prompter_.shown().empty()) << sql << ": " << prompter_.shown().back().text;
  }

 private:
  ::brenvo::test::ScriptedPrompter prompter_;
  mysql::cMySQL db_;
  std::string host_;
  bool ok_ = false;
  unsigned counter_ = 0;
  std::vector<std::string> users_, macs_;
};

// "AB12CD34EF56" -> "AB:12:CD:34:EF:56" (sep ":") or with dashes.
inline std::string Separated(const std::string& mac, char sep) {
  std::string out;
  for (size_t i = 0; i < mac.size(); i += 2) {
    if (i) out += sep;
    out += mac.substr(i, 2);
  }
  return out;
}

// Program settings in a temporary folder that point the management server
// at the test server (or at a given address).
struct ProgramSettings {
  ::brenvo::test::TempDir dir;
  std::unique_ptr<SettingsStore> store = MakeIniSettingsStore(dir.str());
  explicit ProgramSettings(const std::string& adminServer) {
    store->Save(kProgramTitle, "Config", "AdminServer", adminServer);
  }
};

}  // namespace brenvo::signin::test

#define REQUIRE_INHOUSE(inhouse)                                                              \
  do {                                                                                        \
    if (inhouse.host().empty()) GTEST_SKIP() << "test server not started: BRENVO_TEST_ADMIN_HOST unset"; \
    ASSERT_TRUE(inhouse.ok()) << "cannot connect to the test management server";             \
  } while (0)
