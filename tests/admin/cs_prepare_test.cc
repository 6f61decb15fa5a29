// CS database preparation against the real management and CS servers.
#include "admin/cs_prepare.h"

#include "admin_fixture.h"
#include <unistd.h>

#include "db/mysql/cmysql.h"

using namespace brenvo;
using admin::cmdChkCSDB_Click;
using admin::ExistProcess;
using admin::GetIPFromUserID;
using test::UniqueName;

namespace {

class CsPrepareTest : public test::AdminFixture {
 protected:
  // A database on the management table, owned by a user of the CS server.
  void SetUpOwned(int active, const std::string& ip) {
    dbname = UniqueName("prep");
    id = UniqueName("pu");
    AddDatabase(cs, dbname);
    AddCsUser(id, dbname);
    AddPriv(dbname, id, active, ip);
  }
  std::string dbname, id;
};

}  // namespace

TEST_F(CsPrepareTest, TrimmedNameIsFoundAndTheHostFieldFilled) {
  SetUpOwned(0, cs.host);
  Type(id, "  " + dbname + "  ");
  cmdChkCSDB_Click(*console);
  EXPECT_EQ(console->Text(Control::cmbHost), cs.host);
  EXPECT_EQ(prompter.messages(), std::vector<std::string>{"작업준비 완료"});
  EXPECT_EQ(Active(dbname), "0");
}

TEST_F(CsPrepareTest, IdIsComparedAsTypedAndCaseSensitively) {
  SetUpOwned(1, cs.host);
  for (std::string typed : {id + " ", " " + id, std::string(1, static_cast<char>(std::toupper(id[0]))) + id.substr(1)}) {
    SCOPED_TRACE("[" + typed + "]");
    prompter.clear();
    Type(typed, dbname, "before");
    cmdChkCSDB_Click(*console);
    EXPECT_EQ(console->Text(Control::cmbHost), "");
    EXPECT_EQ(prompter.messages(),
              (std::vector<std::string>{"입력된 ID와 CS관리테이블의 자료가 일치하지 않습니다.", "작업준비중 문제 발생!!"}));
  }
  EXPECT_EQ(Active(dbname), "1");
}

TEST_F(CsPrepareTest, ActiveDatabaseIsOfferedForBlockingOnce) {
  SetUpOwned(1, cs.host);
  Type(id, dbname);
  prompter.QueueAnswer(false);
  cmdChkCSDB_Click(*console);
  ASSERT_EQ(prompter.shown().size(), 2u);
  EXPECT_TRUE(prompter.shown()[0].question);
  EXPECT_EQ(prompter.shown()[0].text, "해당 DB가 차단되어 있지 않습니다. 차단할까요?");
  EXPECT_EQ(prompter.shown()[1].text, "작업준비 완료");
  EXPECT_EQ(Active(dbname), "1");

  prompter.clear();
  prompter.QueueAnswer(true);
  cmdChkCSDB_Click(*console);
  EXPECT_EQ(prompter.messages(), (std::vector<std::string>{"차단하였습니다.", "작업준비 완료"}));
  EXPECT_EQ(Active(dbname), "0");

  // Blocked now: the second preparation does not ask.
  prompter.clear();
  cmdChkCSDB_Click(*console);
  EXPECT_EQ(prompter.messages(), std::vector<std::string>{"작업준비 완료"});
  EXPECT_EQ(console->Text(Control::cmbHost), cs.host);
}

TEST_F(CsPrepareTest, OnlyActiveOneIsOffered) {
  for (int active : {0, 2, -1}) {
    SCOPED_TRACE(active);
    SetUpOwned(active, cs.host);
    Type(id, dbname);
    prompter.clear();
    cmdChkCSDB_Click(*console);
    EXPECT_EQ(prompter.messages(), std::vector<std::string>{"작업준비 완료"});
    EXPECT_EQ(Active(dbname), std::to_string(active));
  }
}

TEST_F(CsPrepareTest, LoggingModeAsksNothingBlocksNothingAndLogsItsNotices) {
  SetUpOwned(1, cs.host);
  // A connection working in the database: logging mode does not look.
  mysql::cMySQL worker(prompter);
  ASSERT_TRUE(worker.real_connect(cs.host, id, admin::kCsUserPassword, dbname));
  Type(id, dbname);
  EXPECT_EQ(GetIPFromUserID(*console, true), cs.host);
  EXPECT_TRUE(prompter.shown().empty());
  EXPECT_EQ(Active(dbname), "1");
  EXPECT_EQ(console->LogText().find("GetIPFromUserID Start..."), 0u) << console->LogText();

  console->ClearLog();
  Type(id, UniqueName("absent"));
  EXPECT_EQ(GetIPFromUserID(*console, true), "");
  EXPECT_NE(console->LogText().find("해당 DB는 존재하지 않습니다."), std::string::npos);
  console->ClearLog();
  Type(id + "x", dbname);
  EXPECT_EQ(GetIPFromUserID(*console, true), "");
  EXPECT_NE(console->LogText().find("입력된 ID와 CS관리테이블의 자료가 일치하지 않습니다."), std::string::npos);
  console->ClearLog();
  Type(id, "   ");
  EXPECT_EQ(GetIPFromUserID(*console, true), "");
  EXPECT_NE(console->LogText().find("cs정보의 [DB명]이 입력되지 않았습니다."), std::string::npos);
  EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(CsPrepareTest, InteractiveNoticesForMissingNameAndMissingRow) {
  Type("someone", "   ");
  console->SetFocus(Control::Text1_0);
  cmdChkCSDB_Click(*console);
  EXPECT_EQ(prompter.messages(),
            (std::vector<std::string>{"cs정보의 [DB명]이 입력되지 않았습니다.", "작업준비중 문제 발생!!"}));
  EXPECT_EQ(console->focus(), Control::Text1_1);

  prompter.clear();
  Type("someone", UniqueName("absent"));
  cmdChkCSDB_Click(*console);
  EXPECT_EQ(prompter.messages(), (std::vector<std::string>{"해당 DB는 존재하지 않습니다.", "작업준비중 문제 발생!!"}));
}

TEST_F(CsPrepareTest, EmptyAddressReportsTheProblemWithoutAnyNoticeBefore) {
  SetUpOwned(0, "");
  Type(id, dbname);
  cmdChkCSDB_Click(*console);
  EXPECT_EQ(prompter.messages(), std::vector<std::string>{"작업준비중 문제 발생!!"});
}

TEST_F(CsPrepareTest, WorkingConnectionInTheDatabaseIsWarnedAbout) {
  SetUpOwned(0, cs.host);
  Type(id, dbname);
  {
    mysql::cMySQL worker(prompter);
    ASSERT_TRUE(worker.real_connect(cs.host, id, admin::kCsUserPassword, dbname));
    cmdChkCSDB_Click(*console);
    EXPECT_EQ(prompter.messages(), (std::vector<std::string>{"해당DB의 프로세스가 존재합니다.", "작업준비 완료"}));
  }
  // The worker is gone once the server has ended its thread, which happens
  // a moment after the client hangs up; then the check's own connection,
  // which has no database, is all there is and never counts.
  for (int i = 0; i < 200; ++i) {
    if (test::RootQuery(cs, "SELECT 1 FROM information_schema.PROCESSLIST WHERE USER = " + Lit(id) +
                                " AND DB = " + Lit(dbname))
            .empty())
      break;
    usleep(20000);
  }
  prompter.clear();
  EXPECT_FALSE(ExistProcess(prompter, cs.host, dbname, id));
  cmdChkCSDB_Click(*console);
  EXPECT_EQ(prompter.messages(), std::vector<std::string>{"작업준비 완료"});
}

TEST_F(CsPrepareTest, UnreachableServersGiveTheClassMessage) {
  SetUpOwned(0, cs.host);
  Type(id, dbname);
  std::string nowhere = admin.host.substr(0, admin.host.rfind('.')) + ".251";
  settings->Save(kProgramTitle, "Config", "AdminServer", nowhere);
  cmdChkCSDB_Click(*console);
  auto m = prompter.messages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].rfind("Error 2002", 0), 0u) << m[0];
  EXPECT_EQ(m[1], "작업준비중 문제 발생!!");

  // The management server answers but the CS server does not: a warning only.
  settings->Save(kProgramTitle, "Config", "AdminServer", admin.host);
  std::string db2 = UniqueName("prep");
  AddPriv(db2, id, 0, nowhere);
  Type(id, db2);
  prompter.clear();
  cmdChkCSDB_Click(*console);
  m = prompter.messages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].rfind("Error 2002", 0), 0u) << m[0];
  EXPECT_EQ(m[1], "작업준비 완료");
  EXPECT_EQ(console->Text(Control::cmbHost), nowhere);
}

TEST_F(CsPrepareTest, QuotesInTheNameChangeNeitherStatement) {
  // Another database that an injected condition would reach.
  SetUpOwned(1, cs.host);
  const std::string other = dbname;
  const std::string evil = "x' OR '1'='1";
  Type(id, evil);
  cmdChkCSDB_Click(*console);
  EXPECT_EQ(prompter.messages(), (std::vector<std::string>{"해당 DB는 존재하지 않습니다.", "작업준비중 문제 발생!!"}));

  // A row whose name really is that text: found, and blocking it blocks it alone.
  std::string literalName = UniqueName("q") + "' OR '1'='1";
  AddPriv(literalName, id, 1, cs.host);
  for (std::string name : {literalName, std::string("y\\' OR 1=1 -- ")}) {
    SCOPED_TRACE(name);
    Type(id, name);
    prompter.clear();
    if (name == literalName) prompter.QueueAnswer(true);
    cmdChkCSDB_Click(*console);
  }
  EXPECT_EQ(Active(literalName), "0");
  EXPECT_EQ(Active(other), "1");
  EXPECT_EQ(prompter.pendingAnswers(), 0u);
}
