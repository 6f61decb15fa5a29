// The copy run never deletes on the strength of something it did not see:
// an estimate that could not count, a source table that is not there.
// Real files and servers; the failing opening is the real one, made to fail
// once the way a dropped connection or a busy file makes it fail.
#include <algorithm>

#include "copy_run_fixture.h"
#include "util/error.h"
#include "util/korean.h"
#include "transfer/estimate.h"
#include "transfer/preflight.h"

namespace brenvo::test {
namespace {

std::vector<std::filesystem::path> LogFiles(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> out;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".log") out.push_back(e.path());
  return out;
}

class CopyRunSafetyTest : public CopyRunTest {
 protected:
  // The n-th opening of the source side (counting from 1) fails as a dropped
  // connection would; the others are the real ones.
  void FailOpening(int n) {
    auto mdb = services.openMdb;
    auto my = services.openMySql;
    services.openMdb = [this, mdb, n](std::unique_ptr<ado::Connection>& conn, bool emptyDb) {
      if (!emptyDb && ++openings_ == n) throw BrenvoError(-2147467259, "The file is in use by another process.");
      return mdb(conn, emptyDb);
    };
    services.openMySql = [this, my, n](std::unique_ptr<ado::Connection>& conn) {
      if (++openings_ == n) {
        console->prompter().Message("[MySQL][ODBC] Lost connection to server during query");
        return false;
      }
      return my(conn);
    };
  }
  std::string LogFileText() {
    auto logs = LogFiles(dir.path());
    return logs.size() == 1 ? Cp949ToUtf8(ReadFile(logs[0])) : std::string();
  }
  int openings_ = 0;
};

TEST_F(CopyRunSafetyTest, AnEstimateThatCannotOpenTheSourceStopsTheRun) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  // Direction 1: CS (holding only its dbversion row) into the customer's full file.
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  const std::string before = ReadFile(dbs / "dbMain.mdb");
  console->SetDirection(1);
  FailOpening(1);
  prompter.QueueAnswer(true);  // the second question is never reached
  CopyRunResult r = Run();
  EXPECT_FALSE(r.completed);
  EXPECT_GT(r.errorsReported, 0);
  EXPECT_EQ(prompter.pendingAnswers(), 0u);
  EXPECT_TRUE(ReadFile(dbs / "dbMain.mdb") == before) << "the target file changed";
  ASSERT_FALSE(prompter.messages().empty());
  EXPECT_EQ(prompter.messages().back().rfind("원본의 행 수를 읽지 못하여 작업을 중지합니다.", 0), 0u);
  // Counts of an earlier estimate are not left behind for the next run.
  for (const auto& e : console->catalogue().entries()) EXPECT_EQ(e.expectedRows, kUnknownRowCount) << e.table;
  std::string log = LogFileText();
  EXPECT_NE(log.find("작업 중지: 원본의 행 수를 읽지 못함 (대상 DB 변경 없음)"), std::string::npos) << log;
  EXPECT_NE(log.find("[메시지] 원본의 행 수를 읽지 못하여"), std::string::npos) << log;

  // Direction 0: the Access file busy once; the CS DB keeps its dbversion row.
  openings_ = 0;
  prompter.clear();
  console->SetDirection(0);
  FailOpening(1);
  prompter.QueueAnswer(true);
  r = Run();
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(CsCount("dbversion"), 1);
  EXPECT_EQ(prompter.pendingAnswers(), 0u);
}

TEST_F(CopyRunSafetyTest, AMissingCsTableStopsBeforeAnythingIsDeleted) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  RootExec(cs, "DROP TABLE `" + db + "`.sale_d");
  const std::string before = ReadFile(dbs / "dbMain.mdb");
  console->SetDirection(1);
  console->SetChecked(Control::chkSkipFidSize, true);
  prompter.QueueAnswer(true);
  CopyRunResult r = Run();
  EXPECT_FALSE(r.completed);
  EXPECT_TRUE(ReadFile(dbs / "dbMain.mdb") == before) << "the target file changed";
  ASSERT_FALSE(prompter.messages().empty());
  EXPECT_NE(prompter.messages().back().find("\r\n  sale_d"), std::string::npos) << prompter.messages().back();
  EXPECT_EQ(LogFiles(dir.path()).size(), 1u);
}

TEST_F(CopyRunSafetyTest, ATableGoneAfterTheEstimateIsFoundBeforeTheFirstDelete) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  const std::string before = ReadFile(dbs / "dbMain.mdb");
  console->SetDirection(1);
  console->SetChecked(Control::chkSkipFidSize, true);
  // Counted by the estimate, dropped before the run opens the CS DB again.
  auto my = services.openMySql;
  int openings = 0;
  services.openMySql = [&, my](std::unique_ptr<ado::Connection>& conn) {
    if (++openings == 2) RootExec(cs, "DROP TABLE `" + db + "`.receive");
    return my(conn);
  };
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  EXPECT_FALSE(r.completed);
  EXPECT_TRUE(ReadFile(dbs / "dbMain.mdb") == before) << "the target file changed";
  EXPECT_EQ(prompter.messages().back(),
            "원본 DB에서 다음 테이블을 찾을 수 없거나 열 수 없습니다:\r\n  receive\r\n\r\n"
            "대상 DB는 변경하지 않았습니다. 작업을 중지합니다.");
  auto lines = Lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("원본 테이블 열기 실패: receive - Error ", 0) == 0;
  })) << console->LogText();
  std::string log = LogFileText();
  EXPECT_NE(log.find("원본 테이블 열기 실패: receive"), std::string::npos) << log;
}

TEST_F(CopyRunSafetyTest, SourceTablesAreCheckedOnBothEngines) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  RootExec(cs, "DROP TABLE `" + db + "`.pclass");
  console->catalogue().MarkAll(true);
  std::unique_ptr<ado::Connection> mdb, my;
  ASSERT_TRUE(services.openMdb(mdb, false));
  EXPECT_TRUE(CheckSourceTables(console->catalogue(), *mdb, false).empty());
  ASSERT_TRUE(services.openMySql(my));
  auto problems = CheckSourceTables(console->catalogue(), *my, true);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].table, "pclass");
  EXPECT_NE(problems[0].reason.find("pclass"), std::string::npos) << problems[0].reason;
  // Unmarked tables are not asked for.
  console->catalogue().at(console->catalogue().IndexOf("pclass")).marked = false;
  EXPECT_TRUE(CheckSourceTables(console->catalogue(), *my, true).empty());
}

}  // namespace
}  // namespace brenvo::test
