#include <sys/stat.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/frm_main.h"
#include "support/test_support.h"
#include "transfer/console_state.h"
#include "util/error.h"
#include "util/paths.h"

namespace brenvo {
namespace {

// The real INI store in a temporary folder, remembering every key written.
class RecordingStore : public SettingsStore {
 public:
  explicit RecordingStore(const std::string& dir) : inner_(MakeIniSettingsStore(dir)) {}
  std::string Get(const std::string& a, const std::string& s, const std::string& k,
                  const std::string& d) const override {
    return inner_->Get(a, s, k, d);
  }
  void Save(const std::string& a, const std::string& s, const std::string& k, const std::string& v) override {
    saved.push_back(k + "=" + v);
    inner_->Save(a, s, k, v);
  }
  std::vector<std::string> saved;

 private:
  std::unique_ptr<SettingsStore> inner_;
};

struct Window {
  test::TempDir dir;
  RecordingStore store{dir.str()};
  test::ScriptedPrompter prompter;
  std::unique_ptr<FrmMain> w;
  void Load() { w = std::make_unique<FrmMain>(store, &prompter, dir.str()); }
  void Show() {
    w->show();
    QCoreApplication::processEvents();
  }
  const FrmMain::Controls& ui() { return w->controls(); }
  std::string Saved(const std::string& key) {
    return store.Get(kProgramTitle, "Config", key, "<unset>");
  }
};

TEST(FrmMainLoad, FirstStartWithoutSettings) {
  Window t;
  t.Load();
  t.Show();
  auto& ui = t.ui();
  EXPECT_TRUE(ui.optDB[0]->isChecked());
  EXPECT_TRUE(ui.btnDump->isEnabled());
  EXPECT_FALSE(ui.lblTip->isHidden());
  EXPECT_FALSE(ui.chkE_FAIL->isEnabled());
  EXPECT_EQ(ui.Text1[0]->text(), "");
  EXPECT_EQ(ui.cmbHost->currentText(), "");
  EXPECT_FALSE(ui.chkLocal->isChecked());
  EXPECT_FALSE(ui.cmdCreateUser->isEnabled());
  EXPECT_EQ(ui.Text1[1]->text(), "brenvocs_");
  EXPECT_TRUE(t.store.saved.empty());
  EXPECT_TRUE(t.prompter.shown().empty());
  EXPECT_TRUE(t.w->windowTitle().endsWith(" ver1.6.31")) << t.w->windowTitle().toStdString();
  EXPECT_TRUE(t.w->windowTitle().startsWith(QString::fromUtf8("Brenvo <-> CS 자료전환")));
  // The log file is named at load, before the user ID is restored.
  std::string name = std::filesystem::path(t.w->LogFilePath()).filename().string();
  EXPECT_EQ(name.size(), std::string("20261207_104512_.log").size()) << name;
  EXPECT_EQ(name.substr(8, 1), "_");
  EXPECT_EQ(std::filesystem::path(t.w->LogFilePath()).parent_path(), t.dir.path());
}

TEST(FrmMainLoad, RestoresWithoutWritingBack) {
  Window t;
  t.store.Save(kProgramTitle, "Config", "이동방향", "2");
  t.store.Save(kProgramTitle, "Config", "cs접속정보0", "kim");
  t.store.Save(kProgramTitle, "Config", "cs접속정보1", "custom_db");
  t.store.Save(kProgramTitle, "Config", "cs접속정보host", "localhost");
  t.store.Save(kProgramTitle, "Config", "로컬계산", "0");
  t.store.saved.clear();
  t.Load();
  t.Show();
  auto& ui = t.ui();
  EXPECT_TRUE(ui.optDB[2]->isChecked());
  EXPECT_TRUE(ui.chkE_FAIL->isEnabled());
  EXPECT_FALSE(ui.btnDump->isEnabled());
  EXPECT_TRUE(ui.lblTip->isHidden());
  EXPECT_EQ(ui.Text1[0]->text(), "kim");
  EXPECT_EQ(ui.Text1[1]->text(), "custom_db");  // a stored name is kept, not derived
  EXPECT_TRUE(ui.cmdCreateUser->isEnabled());
  // "로컬계산" is restored after the host and overrides what the host rule ticked.
  EXPECT_FALSE(ui.chkLocal->isChecked());
  EXPECT_TRUE(t.store.saved.empty());
  EXPECT_TRUE(t.prompter.shown().empty()) << "no direction message at load";
}

TEST(FrmMainDirection, SavedAndTheEmptyDbMessageEachTime) {
  Window t;
  t.Load();
  t.Show();
  auto& ui = t.ui();
  ui.optDB[2]->click();
  EXPECT_EQ(t.Saved("이동방향"), "2");
  ui.optDB[1]->click();
  EXPECT_EQ(t.Saved("이동방향"), "1");
  EXPECT_TRUE(ui.chkE_FAIL->isEnabled());
  EXPECT_FALSE(ui.btnDump->isEnabled());
  ui.optDB[2]->click();
  auto msgs = t.prompter.messages();
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0], "DBS폴더에 empty-dbMain.mdb을 준비하세요.");
  EXPECT_EQ(t.prompter.shown()[0].title, "");
  EXPECT_EQ(t.prompter.shown()[0].icon, Icon::None);
}

TEST(FrmMainConnection, UserIdDrivesTheDatabaseName) {
  Window t;
  t.Load();
  t.Show();
  auto& ui = t.ui();
  ui.Text1[0]->setText("abc");
  EXPECT_EQ(ui.Text1[1]->text(), "brenvocs_abc");
  EXPECT_EQ(t.Saved("cs접속정보0"), "abc");
  EXPECT_EQ(t.Saved("cs접속정보1"), "brenvocs_abc");
  ui.Text1[1]->setText("other");
  EXPECT_EQ(t.Saved("cs접속정보1"), "other");
  EXPECT_EQ(ui.Text1[0]->text(), "abc");
}

TEST(FrmMainConnection, LocalhostIsExactAndCaseSensitive) {
  Window t;
  t.Load();
  t.Show();
  auto& ui = t.ui();
  ui.cmbHost->setEditText("localhost");
  EXPECT_TRUE(ui.chkLocal->isChecked());
  EXPECT_TRUE(ui.cmdCreateUser->isEnabled());
  EXPECT_EQ(t.Saved("로컬계산"), "1");
  EXPECT_EQ(t.Saved("cs접속정보host"), "localhost");
  ui.cmbHost->setEditText("LOCALHOST");
  EXPECT_FALSE(ui.chkLocal->isChecked());
  EXPECT_FALSE(ui.cmdCreateUser->isEnabled());
  EXPECT_EQ(t.Saved("로컬계산"), "0");
  EXPECT_EQ(t.Saved("cs접속정보host"), "LOCALHOST");
  // The list holds localhost and the three fixed servers.
  ASSERT_EQ(ui.cmbHost->count(), 4);
  EXPECT_EQ(ui.cmbHost->itemText(0), "localhost");
}

TEST(FrmMainConnection, EnterMovesTheFocusOn) {
  Window t;
  t.Load();
  t.Show();
  t.w->activateWindow();
  t.ui().Text1[0]->setFocus();
  QCoreApplication::processEvents();
  ASSERT_TRUE(t.ui().Text1[0]->hasFocus());
  QTest::keyClick(t.ui().Text1[0], Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_FALSE(t.ui().Text1[0]->hasFocus());
}

TEST(FrmMainCatalogue, TwentyMarkedAndTheMarkButtons) {
  Window t;
  t.Load();
  auto& ui = t.ui();
  ASSERT_EQ(ui.List1->count(), 20);
  EXPECT_EQ(ui.lblTblCount->text(), QString::fromUtf8("20건"));
  EXPECT_EQ(t.w->catalogue().MarkedCount(), 20);
  EXPECT_EQ(t.w->tableNumbers().size(), 21u);

  ui.chkAll->setChecked(false);
  EXPECT_EQ(t.w->catalogue().MarkedCount(), 0);
  EXPECT_EQ(ui.List1->item(3)->checkState(), Qt::Unchecked);
  ui.chkAll->setChecked(true);
  EXPECT_EQ(t.w->catalogue().MarkedCount(), 20);

  ui.List1->setCurrentRow(-1);
  ui.cmdUnChkHere[0]->click();
  EXPECT_EQ(t.w->catalogue().MarkedCount(), 20);
  ui.cmdUnChkHere[1]->click();
  EXPECT_EQ(t.w->catalogue().MarkedCount(), 0);

  ui.chkAll->setChecked(false);
  ui.chkAll->setChecked(true);
  ui.List1->setCurrentRow(4);
  ui.cmdUnChkHere[1]->click();
  EXPECT_EQ(t.w->catalogue().MarkedCount(), 5);
  ui.cmdUnChkHere[0]->click();
  EXPECT_EQ(t.w->catalogue().MarkedCount(), 1);
  EXPECT_TRUE(t.w->catalogue().at(4).marked);

  // A tick in the list reaches the catalogue.
  ui.List1->item(16)->setCheckState(Qt::Checked);
  EXPECT_TRUE(t.w->catalogue().at(16).marked);
}

TEST(FrmMainTools, MissingFolderAndProgram) {
  Window t;
  std::string app = (t.dir.path() / "Brenvo").string();
  t.store.Save("Brenvo", "Config", "AppPath", app);
  t.Load();
  std::vector<std::string> opened;
  t.w->openDocument = [&](const std::string& p) { opened.push_back("doc:" + p); };
  t.w->openFolder = [&](const std::string& p) { opened.push_back("dir:" + p); };
  t.w->cmdAccess_Click(0);
  t.w->cmdRunApp_Click();
  auto msgs = t.prompter.messages();
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0], "DBS폴더를 찾을 수 없습니다.\r\n" + app + "/DBS");
  EXPECT_EQ(msgs[1], "실행파일을 찾을 수 없습니다.\r\n" + app + "/Brenvo.exe");
  EXPECT_TRUE(opened.empty());

  std::filesystem::create_directories(app + "/DBS");
  t.w->cmdAccess_Click(0);
  t.w->cmdAccess_Click(1);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], "doc:" + app + "/DBS/dbMain.mdb");
  EXPECT_EQ(opened[1], "dir:" + app + "/DBS");
}

TEST(FrmMainTools, StartsTheHostProgram) {
  Window t;
  std::string app = (t.dir.path() / "Brenvo").string();
  std::filesystem::create_directories(app);
  std::string marker = app + "/started";
  test::WriteFile(app + "/Brenvo.exe", "#!/bin/sh\ntouch '" + marker + "'\n");
  chmod((app + "/Brenvo.exe").c_str(), 0755);
  t.store.Save("Brenvo", "Config", "AppPath", app);
  t.Load();
  t.w->cmdRunApp_Click();
  for (int i = 0; i < 100 && !std::filesystem::exists(marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(std::filesystem::exists(marker));
  EXPECT_TRUE(t.prompter.shown().empty());
}

TEST(FrmMainTools, DefaultAppPathAndTrailingSeparatorKept) {
  Window t;
  t.Load();
  t.w->cmdAccess_Click(1);
  ASSERT_EQ(t.prompter.messages().size(), 1u);
  EXPECT_EQ(t.prompter.messages()[0], std::string("DBS폴더를 찾을 수 없습니다.\r\n") + kDefaultAppRoot + "Brenvo/DBS");
  t.store.Save("Brenvo", "Config", "AppPath", "/nowhere/");
  t.w->cmdRunApp_Click();
  EXPECT_EQ(t.prompter.messages()[1], "실행파일을 찾을 수 없습니다.\r\n/nowhere//Brenvo.exe");
}

TEST(FrmMainTools, HelpListsTheFeatures) {
  Window t;
  t.Load();
  t.w->cmdHelp_Click();
  ASSERT_EQ(t.prompter.messages().size(), 1u);
  EXPECT_EQ(t.prompter.messages()[0],
            "- 소수점 테스트 완료\r\n- 멀티라인 데이터 테스트완료(메모필드)\r\n"
            "- CSV 구분문자가 데이터내에 존재하는지 자동검색\r\n- CS DB 존재여부 확인가능\r\n"
            "- CS 프로세스 존재여부 확인가능\r\n");
}

TEST(FrmMainLog, PaneAndFile) {
  Window t;
  t.Load();
  t.Show();
  t.ui().Text1[0]->setText("abc");
  t.w->FormLogFilePath();
  EXPECT_NE(t.w->LogFilePath().find("_abc.log"), std::string::npos);
  t.w->AppendLog("고객.....");
  t.w->AppendLog("x");
  EXPECT_EQ(t.w->LogText(), "고객.....\r\nx\r\n");
  t.w->AppendLogFile("한");
  EXPECT_EQ(test::ReadFile(t.w->LogFilePath()), "\xC7\xD1\r\n");
  t.w->ClearLog();
  EXPECT_EQ(t.w->LogText(), "");
}

}  // namespace
}  // namespace brenvo

namespace brenvo {
namespace {

TEST(FrmMainWork, EstimateFailureIsReportedAndTheWindowComesBack) {
  Window t;
  t.Load();
  t.Show();
  t.w->services.openMdb = [](std::unique_ptr<ado::Connection>&, bool) -> bool {
    throw BrenvoError(-2147467259, "Could not find file '/nowhere/DBS/dbMain.mdb'.", "Microsoft JET Database Engine");
  };
  t.w->controls().btnTime->click();
  EXPECT_FALSE(t.w->controls().frames[0]->isEnabled()) << "input is shut while the job runs";
  ASSERT_TRUE(t.w->WaitForJob(30000));
  ASSERT_EQ(t.prompter.messages().size(), 1u);
  EXPECT_EQ(t.prompter.messages()[0],
            "Error -2147467259 (Could not find file '/nowhere/DBS/dbMain.mdb'.) in procedure GetTableInfo of Form Form1");
  EXPECT_EQ(t.w->LogText(), "");  // the pane stays empty after a failed opening
  EXPECT_TRUE(t.w->controls().frames[0]->isEnabled());
  EXPECT_TRUE(t.w->controls().frames[2]->isEnabled());

  // No at the copy run's first question: nothing else happens.
  t.prompter.clear();
  t.prompter.QueueAnswer(false);
  t.w->controls().cmdStart->click();
  ASSERT_TRUE(t.w->WaitForJob(30000));
  ASSERT_EQ(t.prompter.shown().size(), 1u);
  EXPECT_TRUE(t.prompter.shown()[0].question);
  EXPECT_EQ(t.prompter.shown()[0].icon, Icon::Question);
  EXPECT_TRUE(t.prompter.shown()[0].defaultNo);
  EXPECT_EQ(t.prompter.shown()[0].text,
            "※시작하기 전에 CS와 Brenvo 프로그램을 종료하세요.\r\n최종적으로 접속한 CS DB에 대해 작업이 이루어 집니다. 정말 "
            "시작하시겠습니까?");
}

}  // namespace
}  // namespace brenvo
