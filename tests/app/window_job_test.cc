// A long copy run in the real window (offscreen): the window keeps handling
// its events while the job works and refuses a second job. Direction 2 over the large
// fixture: the Access engine on both sides, no server needed.
#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <filesystem>

#include "app/frm_main.h"
#include "support/test_support.h"
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

  // Back to normal: the next job starts.
  bool ran = false;
  ASSERT_TRUE(w->StartJob(false, [&ran] { ran = true; }));
  ASSERT_TRUE(w->WaitForJob(30000));
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace brenvo
