// A long copy run in the real window (offscreen): the window keeps handling
// its events while the job works, refuses a second job, and "중지" stops the
// run with the table in progress as it was. Direction 2 over the large
// fixture: the Access engine on both sides, no server needed.
#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QProgressBar>
#include <QPushButton>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <filesystem>

#include "app/frm_main.h"
#include "shown_window.h"
#include "transfer/values.h"

namespace brenvo {
namespace {

namespace fs = std::filesystem;

// Counts the paint events a widget receives while the window is busy.
class PaintCounter : public QObject {
 public:
  PaintCounter(const FrmMain& w) : w_(w) {}
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint && w_.Busy()) ++paints;
    return false;
  }

 private:
  const FrmMain& w_;
};

class WindowJob : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::FixturesDir().empty()) GTEST_SKIP() << "shared fixtures folder not found (set BRENVO_FIXTURES)";
    dbs = dir.path() / "Brenvo" / "DBS";
    fs::create_directories(dbs);
    // The large file as the source; the target holds the small file's rows,
    // so a table copied halfway would show.
    fs::copy_file(test::FixturesDir() / "brenvo" / "dbMain-large.mdb", dbs / "dbMain.mdb");
    fs::copy_file(test::FixturesDir() / "brenvo" / "dbMain.mdb", dbs / "empty-dbMain.mdb");
    // The fixtures are read-only; the copies are the technician's own files.
    for (const char* f : {"dbMain.mdb", "empty-dbMain.mdb"})
      fs::permissions(dbs / f, fs::perms::owner_write, fs::perm_options::add);
    store->Save("Brenvo", "Config", "AppPath", (dir.path() / "Brenvo").string());
    store->Save(kProgramTitle, "Config", "이동방향", "2");
    w = std::make_unique<FrmMain>(*store, &prompter, dir.str());
    w->SetChecked(Control::chkSkipFidSize, true);
    w->show();
    QCoreApplication::processEvents();
  }

  void Mark(std::initializer_list<const char*> tables) {
    TableCatalogue& cat = w->catalogue();
    cat.MarkAll(false);
    for (const char* t : tables) cat.at(cat.IndexOf(t)).marked = true;
  }

  // Rows of a table in the target file, read through the window's own opening.
  long long TargetCount(const std::string& table) {
    std::unique_ptr<ado::Connection> conn;
    if (!w->services.openMdb(conn, true)) return -1;
    auto rs = conn->OpenQuery("SELECT COUNT(*) FROM " + table);
    long long n = ValueToInteger(rs->GetValue(0));
    ado::CloseADO(rs);
    ado::CloseADO(conn);
    return n;
  }

  // Runs the window's events until pred holds or ms pass.
  template <typename P>
  bool RunUntil(P pred, int ms) {
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return pred();
  }

  test::TempDir dir;
  fs::path dbs;
  std::unique_ptr<SettingsStore> store = MakeIniSettingsStore((dir.path() / "settings").string());
  test::ScriptedPrompter prompter;
  std::unique_ptr<FrmMain> w;
};

TEST_F(WindowJob, TheWindowLivesDuringALongCopy) {
  Mark({"customer", "sale_m", "sale_d"});
  const int saleM = w->catalogue().IndexOf("sale_m");

  PaintCounter counter(*w);
  w->controls().ProgressBar1[0]->installEventFilter(&counter);
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ticks += w->Busy(); });
  timer.start(10);

  // A pane lower than the summary is long, as in a run of all twenty tables.
  w->controls().TxtLog->setFixedHeight(120);
  prompter.QueueAnswers({true, true});  // start, continue after the estimate
  w->controls().cmdStart->click();
  ASSERT_TRUE(w->Busy());
  EXPECT_FALSE(w->controls().btnTime->isEnabled()) << "input shut while the run works";
  EXPECT_FALSE(w->StartJob(false, [] {})) << "a second job must be refused";

  RunUntil([&] { return !w->Busy() || (w->catalogue().current() == saleM && w->ProgressValue(0) > 6000); }, 300000);
  ASSERT_TRUE(w->Busy()) << "the run never got far into sale_m; log:\n"
                         << w->LogText() << "\nlast message: "
                         << (prompter.shown().empty() ? "" : prompter.shown().back().text);
  EXPECT_EQ(w->controls().List1->currentRow(), saleM);
  EXPECT_TRUE(w->controls().ProgressBar1[0]->format().startsWith("sale_m")) << "the current table is shown";
  EXPECT_TRUE(w->controls().cmdCancel->isEnabled());
  EXPECT_FALSE(w->StartJob(false, [] {}));

  ASSERT_TRUE(w->WaitForJob(300000));
  EXPECT_GT(ticks, 5) << "timers stopped firing while the job ran";
  EXPECT_GT(counter.paints, 0) << "the row bar was never repainted while the job ran";
  EXPECT_FALSE(w->controls().cmdCancel->isEnabled());
  EXPECT_TRUE(w->controls().btnTime->isEnabled());
  EXPECT_EQ(prompter.pendingAnswers(), 0u);
  EXPECT_EQ(TargetCount("sale_m"), 100000);
  EXPECT_EQ(w->ProgressValue(1), 3);
  // The pane starts at the summary's head, not at its last line.
  EXPECT_EQ(w->controls().TxtLog->cursorForPosition(QPoint(2, 2)).block().text().toStdString(), "----- 요약 -----");

  // Back to normal: the next job starts.
  bool ran = false;
  ASSERT_TRUE(w->StartJob(false, [&ran] { ran = true; }));
  ASSERT_TRUE(w->WaitForJob(30000));
  EXPECT_TRUE(ran);
}

TEST_F(WindowJob, CancelLeavesTheTableInProgressAsItWas) {
  Mark({"customer", "sale_m", "sale_d"});
  const int saleM = w->catalogue().IndexOf("sale_m");
  ASSERT_EQ(TargetCount("sale_m"), 4000);

  prompter.QueueAnswers({true, true, true});  // start, continue after the estimate, yes to 중지
  w->controls().cmdStart->click();
  // Well past the rows the target had: a table copied halfway would show.
  RunUntil([&] { return !w->Busy() || (w->catalogue().current() == saleM && w->ProgressValue(0) > 6000); }, 300000);
  ASSERT_TRUE(w->Busy()) << "the run never got far into sale_m; log:\n" << w->LogText();
  w->controls().cmdCancel->click();
  EXPECT_FALSE(w->controls().cmdCancel->isEnabled()) << "asked once";
  ASSERT_TRUE(w->WaitForJob(300000));
  EXPECT_EQ(prompter.pendingAnswers(), 0u);
  EXPECT_EQ(prompter.shown()[2].text, "작업을 중지할까요?");
  EXPECT_NE(prompter.messages().back(), "복사가 완료되었습니다.") << "a stopped run is not complete";
  EXPECT_TRUE(w->controls().frames[0]->isEnabled());

  EXPECT_EQ(TargetCount("customer"), 500) << "the table before the stop is replaced";
  EXPECT_EQ(TargetCount("sale_m"), 4000) << "the table in progress must stay as it was";
  EXPECT_EQ(TargetCount("sale_d"), 16000) << "a table after the stop is not touched";
  EXPECT_NE(w->LogText().find("sale_d"), std::string::npos) << "the log names what was left:\n" << w->LogText();
}

// A job of the test's own making: it talks to the window as the engine does
// and runs until it is asked to stop.
TEST(WindowJobs, CallsKeepTheirOrderAndClosingAsksFirst) {
  test::ShownWindow t;
  FrmMain& w = t.w;
  test::ScriptedPrompter& prompter = t.prompter;

  std::atomic<bool> questionOnWindowThread{false};
  std::string seen;
  std::atomic<int> rounds{0};
  prompter.QueueAnswer(true);  // the job's own question
  ASSERT_TRUE(w.StartJob(true, [&] {
    w.SetText(Control::Text1_0, "kim");
    seen = w.Text(Control::Text1_1);  // the handler of the first box has run by now
    w.AppendLog("첫 줄");
    w.SetStatus("sale_d 테이블 비우는 중...");
    questionOnWindowThread = w.prompter().Ask("계속할까요?") && QThread::currentThread() != w.thread();
    while (!w.CancelRequested()) {
      ++rounds;
      w.SetProgressValue(0, rounds);
      QThread::msleep(5);
    }
    w.AppendLog("중지됨");
  }));
  ASSERT_TRUE(QTest::qWaitFor([&] { return rounds > 3; }, 30000));
  EXPECT_EQ(seen, "brenvocs_kim");
  EXPECT_TRUE(questionOnWindowThread);
  EXPECT_EQ(prompter.shown().back().text, "계속할까요?");
  EXPECT_EQ(w.controls().lblStatus->text(), QString::fromUtf8("sale_d 테이블 비우는 중..."));
  EXPECT_EQ(w.LogText(), "첫 줄\r\n");

  // Closing asks; No keeps the window and the job.
  prompter.QueueAnswer(false);
  w.close();
  EXPECT_EQ(prompter.shown().back().text, "작업이 진행 중입니다. 작업을 중지하고 창을 닫을까요?");
  EXPECT_TRUE(prompter.shown().back().defaultNo);
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(w.Busy());
  EXPECT_FALSE(w.CancelRequested());

  // Escape asks about stopping; No goes on.
  prompter.QueueAnswer(false);
  QTest::keyClick(&w, Qt::Key_Escape);
  EXPECT_EQ(prompter.shown().back().text, "작업을 중지할까요?");
  EXPECT_FALSE(w.CancelRequested());

  // Yes to closing: the job is asked to stop, the window closes when it has.
  prompter.QueueAnswer(true);
  w.close();
  EXPECT_TRUE(w.CancelRequested());
  ASSERT_TRUE(w.WaitForJob(30000));
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(w.LogText(), "첫 줄\r\n중지됨\r\n");
  EXPECT_EQ(prompter.pendingAnswers(), 0u);
}

}  // namespace
}  // namespace brenvo
