// What a copy run reports is what the target holds: columns found by name,
// the read-back that notices a row changed behind the run's back, a cancel,
// a source that dies in the middle of a table, a full disk.
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>

#include "copy_run_fixture.h"
#include "db/jet/database.h"
#include "db/jet/table_scan.h"
#include "db/odbc/odbc_reader.h"
#include "util/korean.h"

namespace brenvo::test {
namespace {

// Live rows of a table, by walking its pages (the stored count may lag).
long long MdbRows(const std::filesystem::path& file, const std::string& table) {
  auto db = jet::Database::Open(file.string(), "wq3518");
  jet::TableScan scan(db->File(), db->Table(table));
  jet::RowBytes rb;
  long long n = 0;
  while (scan.Next(rb)) ++n;
  return n;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

class CopyRunOutcomeTest : public CopyRunTest {
 protected:
  void Writable(const std::string& name) { chmod((dbs / name).c_str(), 0644); }
  // Whether the Access engine replaces a table as one unit of work yet.
  bool AccessTakesTransactions(bool emptyDb) {
    std::unique_ptr<ado::Connection> conn;
    if (!services.openMdb(conn, emptyDb)) return false;
    try {
      conn->BeginTrans();
      conn->RollbackTrans();
      return true;
    } catch (...) {
      return false;
    }
  }
  // Fills the CS DB from dbMain.mdb (direction 0), for runs out of it.
  void FillCs() {
    PlaceMdb("dbMain.mdb", "dbMain.mdb");
    console->SetDirection(0);
    console->SetChecked(Control::chkSkipFidSize, true);
    prompter.QueueAnswers({true, true});
    ASSERT_TRUE(Run().Succeeded());
    prompter.clear();
  }
  std::string T(const std::string& table) { return "`" + db + "`.`" + table + "`"; }
};

TEST_F(CopyRunOutcomeTest, ColumnsInAnotherOrderGoByName) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  RootExec(cs, "ALTER TABLE " + T("sale_d") + " MODIFY price DOUBLE NULL AFTER prod_name");
  RootExec(cs, "ALTER TABLE " + T("customer") + " MODIFY mobile VARCHAR(20) NULL AFTER ceo_name");
  Mark({"customer", "sale_d"});
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  EXPECT_TRUE(r.Succeeded());
  for (const auto& m : prompter.messages()) EXPECT_NE(m, "양쪽의 필드이름 또는 위치가 틀립니다.");
  // Put back in the Access order, the CS tables read like the reference.
  RootExec(cs, "ALTER TABLE " + T("sale_d") + " MODIFY price DOUBLE NULL AFTER qty");
  RootExec(cs, "ALTER TABLE " + T("customer") + " MODIFY mobile VARCHAR(20) NULL AFTER tel");
  for (const char* t : {"customer", "sale_d"})
    EXPECT_TRUE(CsExport(t) == ExpectedCsv(t)) << t;

  // And back the other way out of the reordered CS DB into an empty file.
  RootExec(cs, "ALTER TABLE " + T("sale_d") + " MODIFY price DOUBLE NULL AFTER prod_name");
  RootExec(cs, "ALTER TABLE " + T("customer") + " MODIFY mobile VARCHAR(20) NULL AFTER ceo_name");
  PlaceMdb("empty-dbMain.mdb", "dbMain.mdb");
  Writable("dbMain.mdb");
  console->SetDirection(1);
  console->SetChecked(Control::chkSkipFidSize, true);  // CS text columns are wider than Access's
  prompter.clear();
  prompter.QueueAnswers({true, true});
  r = Run();
  EXPECT_TRUE(r.Succeeded());
  for (const char* t : {"customer", "sale_d"})
    EXPECT_TRUE(MdbExport(dbs / "dbMain.mdb", t) == ExpectedCsv(t)) << t;
}

TEST_F(CopyRunOutcomeTest, ColumnsWithOtherNamesGoByPositionAfterOneMessage) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  RootExec(cs, "ALTER TABLE " + T("customer") + " CHANGE email e_mail VARCHAR(50) NULL");
  Mark({"customer"});
  console->SetChecked(Control::chkSkipFidSize, true);
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  auto messages = prompter.messages();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), std::string("양쪽의 필드이름 또는 위치가 틀립니다.")), 1);
  EXPECT_TRUE(HasLine(Lines(), "필드 위치로 복사: customer.email → e_mail")) << console->LogText();
  EXPECT_EQ(CsCount("customer"), 500);
  EXPECT_EQ(RootQuery(cs, "SELECT COUNT(*) FROM " + T("customer") + " WHERE e_mail LIKE '%@%'")[0][0],
            RootQuery(cs, "SELECT COUNT(*) FROM " + T("customer") + " WHERE e_mail IS NOT NULL AND e_mail <> ''")[0][0]);
  ExpectVerifiedEqual(r, 1);
}

TEST_F(CopyRunOutcomeTest, TheReadBackFindsRowsChangedBehindTheRunsBack) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  RootExec(cs, "CREATE TRIGGER `" + db + "`.cust_rename BEFORE INSERT ON " + T("customer") +
                   " FOR EACH ROW BEGIN IF NEW.cust_id IN (7, 8) THEN SET NEW.cust_name = '다른 이름'; END IF; END");
  // A source NULL leaves the column to its default, which is not NULL here.
  RootExec(cs, "ALTER TABLE " + T("sale_d") + " ALTER prod_name SET DEFAULT '기본'");
  RootExec(cs, "ALTER TABLE " + T("customer") + " ALTER memo SET DEFAULT '기본'");
  Mark({"customer", "accounts"});
  console->SetChecked(Control::chkSkipFidSize, true);
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  EXPECT_EQ(r.rowsFailed, 0);
  EXPECT_FALSE(r.Succeeded());
  ASSERT_EQ(r.verification.size(), 2u);
  EXPECT_EQ(r.verification[0].table, "customer");
  // Rows 7 and 8, and every row whose memo came out of the default.
  const long long changed = std::stoll(
      RootQuery(cs, "SELECT COUNT(*) FROM " + T("customer") + " WHERE memo = '기본' OR cust_id IN (7, 8)")[0][0]);
  EXPECT_GT(changed, 2);
  EXPECT_EQ(r.verification[0].differing, changed);
  EXPECT_EQ(r.verification[1].differing, 0);
  auto lines = Lines();
  EXPECT_TRUE(HasLine(lines, "검증 customer............ " + FormatThousands(changed) + "건 불일치")) << console->LogText();
  EXPECT_TRUE(HasLine(lines, "검증 accounts............ 일치"));
  EXPECT_NE(prompter.messages().back().find("검증 불일치: customer " + FormatThousands(changed) + "건"),
            std::string::npos)
      << prompter.messages().back();

  // Without the read-back the same run says nothing about it.
  RootExec(cs, "DELETE FROM " + T("customer"));
  prompter.clear();
  prompter.QueueAnswers({true, true});
  r = cmdStart_Click(*console, services, CopyRunOptions{false});
  EXPECT_TRUE(r.verification.empty());
  EXPECT_TRUE(HasLine(Lines(), "검증: 생략"));
}

TEST_F(CopyRunOutcomeTest, AnAccessTargetIsBackedUpFirstOrNotChanged) {
  REQUIRE_FIXTURES();
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  PlaceMdb("dbMain.mdb", "empty-dbMain.mdb");
  Writable("empty-dbMain.mdb");
  const std::string before = ReadFile(dbs / "empty-dbMain.mdb");
  console->SetDirection(2);
  Mark({"customer"});
  console->SetChecked(Control::chkSkipFidSize, true);
  // No backup folder can be made: nothing is changed.
  WriteFile(dbs / "backup", "not a folder");
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  EXPECT_FALSE(r.completed);
  EXPECT_TRUE(ReadFile(dbs / "empty-dbMain.mdb") == before);
  EXPECT_EQ(prompter.messages().back().rfind("대상 파일의 백업을 만들 수 없어 작업을 중지합니다.", 0), 0u);
  EXPECT_NE(Cp949ToUtf8(ReadFile(console->LogFilePath())).find("작업 중지: 백업 실패"), std::string::npos);

  std::filesystem::remove(dbs / "backup");
  prompter.clear();
  prompter.QueueAnswers({true, true});
  r = Run();
  EXPECT_TRUE(r.Succeeded());
  ASSERT_FALSE(r.backupPath.empty());
  EXPECT_EQ(std::filesystem::path(r.backupPath).parent_path(), dbs / "backup");
  EXPECT_TRUE(ReadFile(r.backupPath) == before) << "the backup is not the file as it was";
  EXPECT_FALSE(ReadFile(dbs / "empty-dbMain.mdb") == before);
  auto lines = Lines();
  EXPECT_TRUE(HasLine(lines, "백업: " + r.backupPath));
  EXPECT_TRUE(HasLine(lines, "백업 파일: " + r.backupPath));
}

TEST_F(CopyRunOutcomeTest, ACancelKeepsTheTablesBeforeAndLeavesTheRestAlone) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  RootExec(cs, "INSERT INTO " + T("receive") + " (recv_id) VALUES (1)");
  Mark({"customer", "sale_d", "receive"});
  console->SetChecked(Control::chkSkipFidSize, true);
  AtRow("sale_d", 5000, [&] { console->cancel = true; });
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  EXPECT_TRUE(r.cancelled);
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(CsCount("customer"), 500);
  // Into the CS DB each batch commits on its own: what was stored stays, and is counted.
  EXPECT_EQ(CsCount("sale_d") + 500, r.rowsStored);
  EXPECT_EQ(CsCount("receive"), 1);
  auto lines = Lines();
  EXPECT_TRUE(HasLine(lines, "중지 sale_d: " + FormatThousands(CsCount("sale_d")) + "건까지 저장된 채 남음"))
      << console->LogText();
  EXPECT_TRUE(HasLine(lines, "변경하지 않은 테이블: receive"));
  EXPECT_EQ(prompter.messages().back().rfind("작업이 중지되었습니다.", 0), 0u);
  std::string log = Cp949ToUtf8(ReadFile(console->LogFilePath()));
  EXPECT_NE(log.find("변경하지 않은 테이블: receive"), std::string::npos);
}

TEST_F(CopyRunOutcomeTest, ACancelBeforeTheFirstChangeChangesNothing) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  console->cancel = true;  // pressed while the estimate counted
  prompter.QueueAnswer(true);
  CopyRunResult r = Run();
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(r.errorsReported, 0);
  EXPECT_EQ(prompter.pendingAnswers(), 0u);
  EXPECT_EQ(CsCount("dbversion"), 1);
  EXPECT_TRUE(HasLine(Lines(), "작업 중지: 중지 요청 (대상 DB 변경 없음)")) << console->LogText();
}

TEST_F(CopyRunOutcomeTest, ACancelIntoAnAccessFileLeavesTheTableInProgressAsItWas) {
  REQUIRE_FIXTURES();
  // Brenvo → Brenvo onto a full copy, so that the tables have rows to keep.
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  PlaceMdb("dbMain.mdb", "empty-dbMain.mdb");
  Writable("dbMain.mdb");
  Writable("empty-dbMain.mdb");
  if (!AccessTakesTransactions(true)) GTEST_SKIP() << "the Access engine does not replace a table as a unit yet";
  // A source with fewer customers than the target.
  {
    std::unique_ptr<ado::Connection> src;
    ASSERT_TRUE(services.openMdb(src, false));
    src->Execute("DELETE FROM customer");
  }
  console->SetDirection(2);
  Mark({"customer", "sale_d", "receive"});
  console->SetChecked(Control::chkSkipFidSize, true);
  AtRow("sale_d", 5000, [&] { console->cancel = true; });
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(MdbRows(dbs / "empty-dbMain.mdb", "customer"), 0);  // replaced before the cancel
  EXPECT_EQ(MdbRows(dbs / "empty-dbMain.mdb", "sale_d"), 16000);
  EXPECT_EQ(MdbRows(dbs / "empty-dbMain.mdb", "receive"), 2500);
  EXPECT_EQ(r.rowsStored, 0);
  EXPECT_TRUE(HasLine(Lines(), "중지 sale_d: 진행 중이던 테이블을 되돌림 (변경 없음)")) << console->LogText();
}

TEST_F(CopyRunOutcomeTest, ACsServerKilledInTheMiddleOfATableLeavesItAsItWas) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  MakeCsDb(CsServer(), CsServer().host);
  FillCs();
  // The CS rows differ from the file's, so a replaced table would show.
  RootExec(cs, "UPDATE " + T("sale_d") + " SET qty = qty + 1");
  RootExec(cs, "UPDATE " + T("customer") + " SET cust_name = CONCAT('*', LEFT(cust_name, 10))");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  Writable("dbMain.mdb");
  if (!AccessTakesTransactions(false)) GTEST_SKIP() << "the Access engine does not replace a table as a unit yet";
  const std::string saleBefore = MdbExport(dbs / "dbMain.mdb", "sale_d");
  const std::string receiveBefore = MdbExport(dbs / "dbMain.mdb", "receive");
  console->SetDirection(1);
  Mark({"customer", "sale_d", "receive"});
  // Slices of 1,000 rows: the source still has slices to read after the
  // kill, whatever size the reader would grow its slices to.
  odbc::SetReadSliceRows(1000);
  struct RestoreSlices {
    ~RestoreSlices() { odbc::SetReadSliceRows(5000); }
  } restore;
  bool killed = false;
  AtRow("sale_d", 5000, [&] {
    killed = true;
    KillRunConnections();
  });
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  ASSERT_TRUE(killed);
  EXPECT_FALSE(r.completed);
  EXPECT_FALSE(r.Succeeded());
  EXPECT_NE(MdbExport(dbs / "dbMain.mdb", "customer").find("*"), std::string::npos);  // replaced before
  EXPECT_TRUE(MdbExport(dbs / "dbMain.mdb", "sale_d") == saleBefore);
  EXPECT_TRUE(MdbExport(dbs / "dbMain.mdb", "receive") == receiveBefore);
  EXPECT_EQ(r.rowsStored, 500) << console->LogText();
  EXPECT_EQ(r.rowsFailed, 16000);
  auto lines = Lines();
  EXPECT_TRUE(HasLine(lines, "원본 읽기 실패 sale_d: 테이블을 되돌림 (변경 없음)")) << console->LogText();
  EXPECT_TRUE(HasLine(lines, "변경하지 않은 테이블: receive"));
}

TEST_F(CopyRunOutcomeTest, AFullDiskReportsTheRowsTheFileHolds) {
  REQUIRE_FIXTURES();
  // A 6 MB file system for the target; root may mount one, others skip.
  std::filesystem::path small = dir.path() / "small";
  std::filesystem::create_directories(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=6m") != 0) GTEST_SKIP() << "cannot mount a small tmpfs";
  struct Unmount {
    std::filesystem::path p;
    ~Unmount() { umount2(p.c_str(), MNT_DETACH); }
  } unmount{small};
  std::filesystem::path app = small / "Brenvo";
  std::filesystem::create_directories(app / "DBS");
  // Both files on it, as in a Brenvo folder: some 1.7 MB left for the copy.
  std::filesystem::copy_file(FixturesDir() / "brenvo" / "dbMain.mdb", app / "DBS" / "dbMain.mdb");
  std::filesystem::copy_file(FixturesDir() / "brenvo" / "empty-dbMain.mdb", app / "DBS" / "empty-dbMain.mdb");
  chmod((app / "DBS" / "empty-dbMain.mdb").c_str(), 0644);
  settings->Save("Brenvo", "Config", "AppPath", app.string());
  console->SetDirection(2);
  console->SetChecked(Control::chkSkipFidSize, true);
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  EXPECT_FALSE(r.Succeeded());
  EXPECT_GT(r.rowsFailed, 0);
  long long inFile = 0;
  for (const auto& t : TableCatalogue::TableNames()) inFile += MdbRows(app / "DBS" / "empty-dbMain.mdb", t);
  EXPECT_EQ(r.rowsStored, inFile) << console->LogText();
  EXPECT_EQ(r.rowsStored + r.rowsFailed, 36325);
  EXPECT_NE(prompter.messages().back(), "복사가 완료되었습니다.");
}

}  // namespace
}  // namespace brenvo::test
