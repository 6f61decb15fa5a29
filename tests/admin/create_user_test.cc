// User creation on the workstation's own server, logged in as its root.
#include "admin/create_user.h"

#include "admin_fixture.h"
#include "db/mysql/cmysql.h"

using namespace brenvo;
using admin::cmdCreateUser_Click;
using test::RootQuery;
using test::UniqueName;

namespace {

class CreateUserTest : public test::AdminFixture {
 protected:
  void SetUp() override {
    AdminFixture::SetUp();
    if (IsSkipped()) return;
    settings->Save(admin::kRootPwdApp, "Config", "rootpwd", local.rootPassword);
  }
  // The new user, with the fixed password, reaches its database.
  bool LogsIn(const std::string& host, const std::string& user, const std::string& db) {
    test::ScriptedPrompter quiet;
    mysql::cMySQL my(quiet);
    if (!my.real_connect(host, user, admin::kCsUserPassword, db, 3306, {}, 0, true)) return false;
    my.query("CREATE TABLE probe (a INT)");
    auto rs = my.query("SELECT COUNT(*) FROM probe");
    my.query("DROP TABLE probe");
    return rs != nullptr && quiet.shown().empty();
  }
  size_t Accounts(const std::string& user) {
    return RootQuery(local, "SELECT host FROM mysql.user WHERE user = " + Lit(user)).size();
  }
};

}  // namespace

TEST_F(CreateUserTest, RefusalsSendNothing) {
  std::string id = UniqueName("cu");
  struct Case {
    std::string host, id, db, message;
    Control focus;
  };
  for (const Case& c : {Case{"LOCALHOST", id, "d", "localhost만 유저생성이 가능합니다.", Control::cmdStart},
                        Case{"127.0.0.1", id, "d", "localhost만 유저생성이 가능합니다.", Control::cmdStart},
                        Case{"localhost ", id, "d", "localhost만 유저생성이 가능합니다.", Control::cmdStart},
                        Case{"localhost", "   ", "d", "생성할 ID가 입력되지 않았습니다.", Control::Text1_0},
                        Case{"localhost", id, "  ", "생성할 DB명이 입력되지 않았습니다.", Control::Text1_1},
                        Case{"localhost", id + "\n", "d", "ID 또는 DB명에 사용할 수 없는 문자가 있습니다.", Control::cmdStart},
                        Case{"localhost", id, "d\x01", "ID 또는 DB명에 사용할 수 없는 문자가 있습니다.", Control::cmdStart},
                        Case{"localhost", id, "\xff\xfe", "ID 또는 DB명에 사용할 수 없는 문자가 있습니다.", Control::cmdStart}}) {
    SCOPED_TRACE(c.host + "|" + c.id + "|" + c.db);
    prompter.clear();
    Type(c.id, c.db, c.host);
    console->SetFocus(Control::cmdStart);
    cmdCreateUser_Click(*console);
    EXPECT_EQ(prompter.messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(console->focus(), c.focus);
  }
  EXPECT_EQ(Accounts(id), 0u);
}

TEST_F(CreateUserTest, BothGrantsWorkFromAnyHostAndFromLocalhost) {
  std::string id = UniqueName("cu"), db = UniqueName("cudb");
  ownAccounts.push_back(id);
  AddDatabase(local, db);
  Type(id, db, "localhost");
  cmdCreateUser_Click(*console);
  EXPECT_EQ(prompter.messages(), std::vector<std::string>{"유저를 생성하였습니다."});
  EXPECT_EQ(Accounts(id), 2u);
  EXPECT_TRUE(LogsIn(local.host, id, db));    // over TCP: the '%' account
  EXPECT_TRUE(LogsIn("localhost", id, db));   // over the socket: the 'localhost' account
  // Again: the same grants, the same password, still fine.
  prompter.clear();
  cmdCreateUser_Click(*console);
  EXPECT_EQ(prompter.messages(), std::vector<std::string>{"유저를 생성하였습니다."});
  EXPECT_TRUE(LogsIn(local.host, id, db));
}

TEST_F(CreateUserTest, TrailingSpaceInTheIdIsKept) {
  std::string id = UniqueName("cu") + " ", db = UniqueName("cudb");
  ownAccounts.push_back(id);
  AddDatabase(local, db);
  Type(id, db, "localhost");
  cmdCreateUser_Click(*console);
  EXPECT_EQ(Accounts(id), 2u);
  EXPECT_TRUE(LogsIn(local.host, id, db));
}

TEST_F(CreateUserTest, RefusedRootLoginShowsOnlyTheClassMessage) {
  settings->Save(admin::kRootPwdApp, "Config", "rootpwd", "not-the-password");
  std::string id = UniqueName("cu");
  Type(id, "d", "localhost");
  cmdCreateUser_Click(*console);
  auto m = prompter.messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].rfind("Error 1045", 0), 0u) << m[0];
  EXPECT_EQ(Accounts(id), 0u);
}

TEST_F(CreateUserTest, ARefusedGrantIsAFailureAndNothingFollowsIt) {
  // A user name longer than the server takes: the server's error, then the
  // failure; the second grant is not sent and no success is claimed.
  std::string id = UniqueName("cu") + std::string(129, 'x');
  Type(id, "d", "localhost");
  cmdCreateUser_Click(*console);
  auto m = prompter.messages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].rfind("Error 1470", 0), 0u) << m[0];
  EXPECT_EQ(m[1], "유저를 생성하지 못했습니다.");
  EXPECT_EQ(Accounts(id), 0u);
}

TEST_F(CreateUserTest, WildcardsInTheDatabaseNameNameExactlyThatDatabase) {
  // "%" would be every database (mysql included), "a_b" also "aXb".
  const std::string base = UniqueName("cuw");
  const std::string underscored = base + "_b", lookalike = base + "Xb";
  AddDatabase(local, underscored);
  AddDatabase(local, lookalike);
  for (const std::string& db : {std::string("%"), underscored}) {
    SCOPED_TRACE(db);
    std::string id = UniqueName("cu");
    ownAccounts.push_back(id);
    prompter.clear();
    Type(id, db, "localhost");
    cmdCreateUser_Click(*console);
    EXPECT_EQ(prompter.messages(), std::vector<std::string>{"유저를 생성하였습니다."});
    auto grants = RootQuery(local, "SELECT Db FROM mysql.db WHERE User = " + Lit(id));
    ASSERT_EQ(grants.size(), 2u);
    EXPECT_EQ(grants[0][0], admin::GrantDatabasePattern(db));
    EXPECT_FALSE(LogsIn(local.host, id, lookalike));
    EXPECT_FALSE(LogsIn(local.host, id, "mysql"));
    EXPECT_EQ(LogsIn(local.host, id, underscored), db == underscored);
  }
}

TEST_F(CreateUserTest, InjectedTextStaysInsideItsName) {
  std::string victim = UniqueName("victim");
  AddDatabase(local, victim);
  std::string outsider = UniqueName("out");
  // Were these pasted into the statement, the first would create an account
  // "outsider" with another password and drop the victim database.
  std::string id = "x'@'%' IDENTIFIED BY 'pw'; DROP DATABASE " + victim + "; --";
  id = id.substr(0, 80);
  std::string db = "d`.* TO " + outsider + "; DROP DATABASE `" + victim;
  db = db.substr(0, 64);
  ownAccounts.push_back(id);
  Type(id, db, "localhost");
  cmdCreateUser_Click(*console);
  EXPECT_EQ(prompter.messages(), std::vector<std::string>{"유저를 생성하였습니다."});
  EXPECT_EQ(RootQuery(local, "SHOW DATABASES LIKE " + Lit(victim)).size(), 1u);
  EXPECT_EQ(Accounts(outsider), 0u);
  EXPECT_EQ(Accounts("x"), 0u);
  // The account was made under exactly the typed name, on exactly the typed database.
  EXPECT_EQ(Accounts(id), 2u);
  auto grants = RootQuery(local, "SELECT Db FROM mysql.db WHERE User = " + Lit(id));
  ASSERT_EQ(grants.size(), 2u);
  EXPECT_EQ(grants[0][0], admin::GrantDatabasePattern(db));
}
