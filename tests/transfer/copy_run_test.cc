// The copy run against real files and servers: dbMain.mdb from the shared
// fixtures, CS databases on the test MariaDB servers, the real OpenMDB,
// OpenMySQL and direct connection; only the person at the screen is scripted.
#include <algorithm>

#include "copy_run_fixture.h"
#include "transfer/catalogue.h"
#include "util/korean.h"

namespace brenvo::test {
namespace {

bool Has(const std::vector<std::string>& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

int LogFiles(const std::filesystem::path& dir) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) n += e.path().extension() == ".log";
  return n;
}

#define REQUIRE_CS()                 \
  REQUIRE_FIXTURES();                \
  REQUIRE_TEST_ENV("CS_HOST")

TEST_F(CopyRunTest, BrenvoToCsCopiesEveryValueExactly) {
  REQUIRE_CS();
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  ASSERT_TRUE(r.completed);
  EXPECT_EQ(r.rowsFailed, 0);
  EXPECT_EQ(r.errorsReported, 0);
  EXPECT_EQ(r.rowsStored, 36325);
  ExpectVerifiedEqual(r, 20);
  for (const auto& t : TableCatalogue::TableNames()) {
    EXPECT_TRUE(CsExport(t) == ExpectedCsv(t)) << "table " << t << " differs";
  }
  auto lines = Lines();
  EXPECT_TRUE(Has(lines, " ADO  customer...................500건 복사(Time "));
  EXPECT_TRUE(Has(lines, " ADO  sale_d..................16,000건 복사(Time "));
  EXPECT_TRUE(Has(lines, "Finish! "));
  EXPECT_EQ(prompter.messages().back(), "복사가 완료되었습니다.");

  // The log file: four header lines, then the pane, then one empty line.
  std::string file = Cp949ToUtf8(ReadFile(console->LogFilePath()));
  std::string head = "* DB 이동방향:Brenvo → CS\r\n* ID:" + id + "\r\n* DB명:" + db + "\r\n* HOST:" + cs.host + "\r\n";
  EXPECT_EQ(file.substr(0, head.size()), head);
  EXPECT_EQ(file.substr(head.size()), console->LogText() + "\r\n");
}

TEST_F(CopyRunTest, NoAtEitherQuestion) {
  REQUIRE_CS();
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  prompter.QueueAnswer(false);
  Run();
  EXPECT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(console->LogText(), "");
  EXPECT_EQ(console->catalogue().at(4).expectedRows, 0);

  prompter.clear();
  prompter.QueueAnswers({true, false});
  Run();
  // Only the estimate's own effects: its lines and the counts.
  EXPECT_EQ(console->catalogue().at(4).expectedRows, 500);
  EXPECT_TRUE(Has(Lines(), "예상시간(초당 30000건) 00:00:11"));  // 36,325 rows to a remote server
  // A run that stops at a question still leaves what it showed in its log file.
  EXPECT_EQ(LogFiles(dir.path()), 1);
  EXPECT_NE(Cp949ToUtf8(ReadFile(console->LogFilePath())).find("작업 중지: 계속하지 않음"), std::string::npos);
  EXPECT_EQ(CsCount("dbversion"), 1);
}

TEST_F(CopyRunTest, NonEmptyCustomerTableStopsUnlessLocalhostConfirms) {
  REQUIRE_CS();
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  RootExec(cs, "INSERT INTO `" + db + "`.customer (cust_id, cust_name) VALUES (900, '남은 고객')");
  Mark({"customer", "sale_d"});
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  EXPECT_FALSE(r.completed);
  ASSERT_FALSE(prompter.shown().empty());
  const auto& last = prompter.shown().back();
  EXPECT_EQ(last.text, "넘길곳의 [고객] 테이블이 비어있지 않기 때문에 자료를 넘길수 없습니다.");
  EXPECT_EQ(last.title, "1건 존재");
  EXPECT_EQ(CsCount("customer"), 1);  // nothing deleted
  EXPECT_EQ(CsCount("sale_d"), 0);

}

TEST_F(CopyRunTest, LocalhostAsksAndOneProductIsTolerated) {
  REQUIRE_CS();
  REQUIRE_TEST_ENV("LOCAL_HOST");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(LocalServer(), "localhost");
  RootExec(cs, "INSERT INTO `" + db + "`.customer (cust_id) VALUES (901)");
  RootExec(cs, "INSERT INTO `" + db + "`.product_m (prod_id) VALUES (901)");
  Mark({"customer", "product_m"});
  console->SetChecked(Control::chkSkipFidSize, true);
  prompter.QueueAnswers({true, true, false});
  EXPECT_FALSE(Run().completed);
  EXPECT_EQ(prompter.shown().back().text,
            "넘길곳의 [고객] 테이블이 비어있지 않습니다.(1건 존재)\r\n\r\n정말 처리 하시겠습니까?(localhost)");
  EXPECT_TRUE(prompter.shown().back().defaultNo);
  EXPECT_EQ(CsCount("customer"), 1);

  // Yes goes on; the one product asks nothing, and both tables are replaced.
  prompter.clear();
  prompter.QueueAnswers({true, true, true});
  CopyRunResult r = Run();
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(prompter.pendingAnswers(), 0u);
  EXPECT_EQ(CsCount("customer"), 500);
  EXPECT_EQ(CsCount("product_m"), 400);
  // With the box ticked the pane goes from the start line to the tables.
  auto lines = Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("시작시각: ", 0), 0u);
  EXPECT_EQ(lines[1].rfind(" ADO  customer", 0), 0u);
}

TEST_F(CopyRunTest, DifferentVersionsStopBeforeAnythingIsDeleted) {
  REQUIRE_CS();
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  RootExec(cs, "UPDATE `" + db + "`.dbversion SET ver = 13 WHERE dbid = 'main'");
  RootExec(cs, "INSERT INTO `" + db + "`.options (opt_id, opt_name) VALUES (1, 'keep')");
  prompter.QueueAnswers({true, true});
  EXPECT_FALSE(Run().completed);
  EXPECT_EQ(prompter.messages().back(), "양쪽의 DB버전이 서로 다릅니다.");
  EXPECT_EQ(CsCount("options"), 1);
  EXPECT_EQ(LogFiles(dir.path()), 1);
  EXPECT_NE(Cp949ToUtf8(ReadFile(console->LogFilePath())).find("[메시지] 양쪽의 DB버전이 서로 다릅니다."),
            std::string::npos);
}

TEST_F(CopyRunTest, EmptyAndUnmarkedTablesInCatalogueOrder) {
  REQUIRE_CS();
  PlaceMdb("empty-dbMain.mdb", "dbMain.mdb");  // every table empty but dbversion
  MakeCsDb(CsServer(), CsServer().host);
  RootExec(cs, "INSERT INTO `" + db + "`.sale_d (sale_id, seq) VALUES (1, 1)");
  RootExec(cs, "INSERT INTO `" + db + "`.cashbook (cash_id) VALUES (1)");
  Mark({"sale_d", "dbversion"});
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  ASSERT_TRUE(r.completed);
  auto lines = Lines();
  auto at = [&](const std::string& prefix) {
    return std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  };
  ASSERT_NE(at(" ADO  dbversion"), lines.end());
  ASSERT_NE(at("EMPTY sale_d"), lines.end());
  EXPECT_LT(at(" ADO  dbversion"), at("EMPTY sale_d"));
  EXPECT_FALSE(Has(lines, " ADO  sale_d"));
  EXPECT_EQ(CsCount("sale_d"), 0);    // emptied although its source is empty
  EXPECT_EQ(CsCount("cashbook"), 1);  // unmarked: untouched
  EXPECT_EQ(console->ProgressValue(1), 2);
  EXPECT_EQ(console->ProgressMax(1), 2);
}

TEST_F(CopyRunTest, NarrowerTargetColumnAsksAndTooLongDataStops) {
  REQUIRE_CS();
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  // customer.ceo_name is Text(20) in Access; its longest value is 20 Hangul (40 bytes).
  RootExec(cs, "ALTER TABLE `" + db + "`.customer MODIFY ceo_name VARCHAR(10)");
  Mark({"customer"});
  prompter.QueueAnswers({true, true, false});
  EXPECT_FALSE(Run().completed);
  EXPECT_EQ(prompter.shown().back().text,
            "다른 필드길이 발견:customer.ceo_name / From=20, To=10\r\n그래도, 진행하시겠습니까?");
  EXPECT_EQ(prompter.shown().back().icon, Icon::Exclamation);
  EXPECT_TRUE(prompter.shown().back().defaultNo);

  prompter.clear();
  prompter.QueueAnswers({true, true, true});
  EXPECT_FALSE(Run().completed);
  std::string report = prompter.messages().back();
  EXPECT_EQ(report.rfind("필드길이 초과 데이터 발견(2Byte오류):customer.ceo_name\r\nData:", 0), 0u) << report;
  EXPECT_NE(report.find("\r\nField Size:10\r\nData  Size:40"), std::string::npos) << report;
  EXPECT_EQ(CsCount("customer"), 0);
}

TEST_F(CopyRunTest, EqualByteLengthPassesOneMoreFails) {
  REQUIRE_CS();
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  Mark({"customer"});
  RootExec(cs, "ALTER TABLE `" + db + "`.customer MODIFY ceo_name VARCHAR(40)");
  prompter.QueueAnswers({true, true});
  EXPECT_TRUE(Run().completed);  // 40 bytes into 40: passes, wider target only logged
  EXPECT_TRUE(Has(Lines(), "다른 필드길이 발견:customer.ceo_name / From=20, To=40"));

  prompter.clear();
  RootExec(cs, "DELETE FROM `" + db + "`.customer");
  RootExec(cs, "ALTER TABLE `" + db + "`.customer MODIFY ceo_name VARCHAR(39)");
  prompter.QueueAnswers({true, true});
  EXPECT_FALSE(Run().completed);
  EXPECT_NE(prompter.messages().back().find("Field Size:39\r\nData  Size:40"), std::string::npos);
}

}  // namespace
}  // namespace brenvo::test

namespace brenvo::test {
namespace {

long long CountTrapMessages(const ScriptedPrompter& p, const std::string& procedure) {
  long long n = 0;
  for (const auto& m : p.messages()) n += m.find(") in procedure " + procedure + " of ") != std::string::npos;
  return n;
}

TEST_F(CopyRunTest, RefusedRowsAreReportedOnceAndNotCountedAsStored) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  // Too narrow for many names; the field check that would have said so is skipped.
  RootExec(cs, "ALTER TABLE `" + db + "`.customer MODIFY ceo_name VARCHAR(2)");
  Mark({"customer"});
  console->SetChecked(Control::chkSkipFidSize, true);
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  ASSERT_TRUE(r.completed);
  EXPECT_FALSE(r.Succeeded());
  long long stored = CsCount("customer");
  EXPECT_GT(r.rowsFailed, 1);
  EXPECT_EQ(r.rowsStored, stored);
  EXPECT_EQ(r.rowsStored + r.rowsFailed, 500);
  // One box for the table and its kind of error; every row in the pane.
  EXPECT_EQ(CountTrapMessages(prompter, "cmdStart_Click"), 1);
  auto lines = Lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("  실패 customer ", 0) == 0; }),
            r.rowsFailed);
  std::string line = " ADO  customer" + std::string(12, '.') +
                     LPad(FormatThousands(stored), 10, ".") + "건 복사(Time ";
  bool found = false;
  for (const auto& l : lines)
    if (l.rfind(line, 0) == 0) {
      found = true;
      EXPECT_NE(l.find(") 실패 " + FormatThousands(r.rowsFailed) + "건"), std::string::npos) << l;
    }
  EXPECT_TRUE(found) << console->LogText();
  // No completion message: the counts and where the log file is.
  std::string last = prompter.messages().back();
  EXPECT_EQ(last.rfind("복사를 마쳤으나 저장하지 못한 행이나 오류가 있습니다.\r\n저장 " + FormatThousands(stored) +
                           "건, 실패 " + FormatThousands(r.rowsFailed) + "건\r\n",
                       0),
            0u)
      << last;
  EXPECT_NE(last.find("로그 파일: " + console->LogFilePath()), std::string::npos) << last;
  // The read-back sees the rows that are not there.
  ASSERT_EQ(r.verification.size(), 1u);
  EXPECT_EQ(r.verification[0].differing, r.rowsFailed);
}

TEST_F(CopyRunTest, AMissingTargetTableIsReportedAndTheRestIsCopied) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  RootExec(cs, "DROP TABLE `" + db + "`.pclass");
  Mark({"office", "pclass", "accounts"});
  prompter.QueueAnswers({true, true, true, true, true, true});
  CopyRunResult r = Run();
  ASSERT_TRUE(r.completed);
  EXPECT_GE(CountTrapMessages(prompter, "ChkFieldSizeAndCSVChar"), 1);
  EXPECT_EQ(CountTrapMessages(prompter, "cmdStart_Click"), 1);  // the DELETE; nothing is copied after it
  EXPECT_EQ(CsCount("office"), 1);
  EXPECT_EQ(CsCount("accounts"), 8);
  EXPECT_EQ(r.rowsStored, 9);
  EXPECT_EQ(r.rowsFailed, 20);  // pclass's rows went nowhere
  EXPECT_FALSE(r.Succeeded());
  EXPECT_NE(prompter.messages().back(), "복사가 완료되었습니다.");
}

TEST_F(CopyRunTest, ServerConnectionKilledInTheMiddleOfATable) {
  REQUIRE_FIXTURES();
  REQUIRE_TEST_ENV("CS_HOST");
  PlaceMdb("dbMain.mdb", "dbMain.mdb");
  MakeCsDb(CsServer(), CsServer().host);
  Mark({"customer", "sale_d", "receive"});
  console->SetChecked(Control::chkSkipFidSize, true);
  bool killed = false;
  AtRow("sale_d", 5000, [&] {
    killed = true;
    KillRunConnections();
  });
  prompter.QueueAnswers({true, true});
  CopyRunResult r = Run();
  ASSERT_TRUE(killed);
  EXPECT_GT(r.errorsReported, 0);
  // Whatever the run says it stored is on the server. A batch that was on
  // its way when the connection died may have reached the server all the
  // same; it is reported as failed, never the other way round.
  long long onServer = CsCount("customer") + CsCount("sale_d") + CsCount("receive");
  EXPECT_LE(r.rowsStored, onServer);
  EXPECT_LE(onServer - r.rowsStored, kCopyBatchRows);
  EXPECT_GT(r.rowsFailed, 0);
  EXPECT_EQ(CsCount("customer"), 500);
  EXPECT_LT(CsCount("sale_d"), 16000);
}

}  // namespace
}  // namespace brenvo::test
