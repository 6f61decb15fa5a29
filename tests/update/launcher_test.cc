// The self-update against a real HTTP server (tests/env/start-40-http.sh).
// Every test serves its own folder below the server's root, so the update
// "server" of a test is host + "/" + that folder. The two companion programs
// are Windows programs outside this system: the checker's run is stood in
// for by a hook that leaves what the real checker would leave.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "support/test_support.h"
#include "update/download.h"
#include "update/launcher.h"
#include "update/pe_builder.h"
#include "util/error.h"
#include "util/file_version.h"
#include "util/settings_store.h"

namespace brenvo::update {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScriptedPrompter;
using test::TempDir;
using test::WriteFile;

constexpr const char* kExe = "brenvo-console";
constexpr const char* kUnreadable = "Strovant.exe의 최신버전 정보를 읽어올 수 없습니다!";

std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// One test's update server folder, the program folder and the hooks' record.
class Update : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string host = test::TestEnv("HTTP_HOST");
    const std::string root = test::TestEnv("HTTP_ROOT");
    if (host.empty() || root.empty()) GTEST_SKIP() << "test server not started: BRENVO_TEST_HTTP_HOST unset";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string unique = std::string(info->name()) + "-" + std::to_string(::getpid());
    served_ = fs::path(root) / unique / "download" / "자동업데이트_v1";
    fs::create_directories(served_);
    servedTop_ = fs::path(root) / unique;
    WriteFile(app_.path() / kExe, "running build");

    env_.appFolder = app_.str();
    env_.exeName = kExe;
    env_.revision = 31;
    env_.updateServer = host + "/" + unique;
    env_.prompter = &prompter_;
    env_.runAndWait = [this](const std::string& file, const std::string& params, const std::string& dir) {
      runs_.push_back({file, params, dir});
      checkerSawAtRun_ = fs::exists(file) ? ReadFile(file) : "";
      if (checkerLeavesNewBuild_ && fs::exists(file)) WriteFile(app_.path() / "New_brenvo-console", "new build");
    };
    env_.start = [this](const std::string& program, const std::string& params, bool minimized) {
      starts_.push_back({program, params, minimized ? "min" : "normal"});
      return startWorks_;
    };
    env_.openFolder = [this](const std::string& folder) {
      opened_.push_back(folder);
      return true;
    };
    env_.endProgram = [this] { ++ends_; };
  }
  void TearDown() override {
    std::error_code ec;
    if (!servedTop_.empty()) fs::remove_all(servedTop_, ec);
  }

  void Serve(const std::string& name, const std::string& bytes) { WriteFile(served_ / name, bytes); }
  std::string Local(const std::string& name) const { return (app_.path() / name).string(); }
  void PutLocalChecker(const std::string& version) {
    WriteFile(Local("Strovant.exe"), Bytes(test::PeWithFileVersion(version)));
  }
  bool Run() {
    bool skip = false;
    return RunAutoUpdate(skip, env_);
  }

  struct Call {
    std::string a, b, c;
  };
  TempDir app_;
  fs::path served_, servedTop_;
  LauncherEnv env_;
  ScriptedPrompter prompter_;
  std::vector<Call> runs_, starts_;
  std::vector<std::string> opened_;
  std::string checkerSawAtRun_;
  bool checkerLeavesNewBuild_ = false;
  bool startWorks_ = true;
  int ends_ = 0;
};

TEST_F(Update, SameBuildNumberRunsTheCheckerWithoutDownloading) {
  PutLocalChecker("1.00.0015");
  const std::string before = ReadFile(Local("Strovant.exe"));
  Serve("Strovant_lastver.txt", "15");
  Serve("Strovant.exe", "server checker");
  Serve("Melquid.exe", "server replacer");

  EXPECT_FALSE(Run());
  EXPECT_EQ(ReadFile(Local("Strovant.exe")), before);
  EXPECT_FALSE(fs::exists(Local("Melquid.exe")));
  ASSERT_EQ(runs_.size(), 1u);
  EXPECT_EQ(runs_[0].a, Local("Strovant.exe"));
  EXPECT_EQ(runs_[0].b, "31;brenvo-console");
  EXPECT_EQ(runs_[0].c, app_.str());
  EXPECT_TRUE(starts_.empty());
  EXPECT_EQ(ends_, 0);
  EXPECT_TRUE(prompter_.shown().empty());
}

TEST_F(Update, HigherBuildNumberDownloadsBothProgramsBeforeTheRun) {
  PutLocalChecker("1.00.0015");
  const std::string newChecker = Bytes(test::PeWithFileVersion("1.00.0016"));
  Serve("Strovant_lastver.txt", "16\r\n");
  Serve("Strovant.exe", newChecker);
  Serve("Melquid.exe", "server replacer");

  EXPECT_FALSE(Run());
  EXPECT_EQ(ReadFile(Local("Strovant.exe")), newChecker);
  EXPECT_EQ(ReadFile(Local("Melquid.exe")), "server replacer");
  EXPECT_EQ(GetFileVerText(Local("Strovant.exe"), true, true), "1.00.16");
  // Fetched programs must be runnable.
  EXPECT_NE(fs::status(Local("Strovant.exe")).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_NE(fs::status(Local("Melquid.exe")).permissions() & fs::perms::owner_exec, fs::perms::none);
  ASSERT_EQ(runs_.size(), 1u);
  EXPECT_EQ(checkerSawAtRun_, newChecker);
  EXPECT_TRUE(prompter_.shown().empty());
}

TEST_F(Update, MissingLocalCheckerCountsAsBuildZero) {
  Serve("Strovant_lastver.txt", "1");
  Serve("Strovant.exe", "server checker");
  Serve("Melquid.exe", "server replacer");
  Run();
  EXPECT_EQ(ReadFile(Local("Strovant.exe")), "server checker");
  EXPECT_EQ(ReadFile(Local("Melquid.exe")), "server replacer");
  EXPECT_EQ(runs_.size(), 1u);

  // A checker without a readable version block is build zero as well.
  TempDir again;
  WriteFile(again.path() / kExe, "x");
  WriteFile(again.path() / "Strovant.exe", "not a PE file");
  env_.appFolder = again.str();
  EXPECT_TRUE(AutoUpdaterSelfUpdate(env_));
  EXPECT_EQ(ReadFile(again.path() / "Strovant.exe"), "server checker");
}

TEST_F(Update, UnreadableVersionFileStopsTheUpdateButNotTheStart) {
  PutLocalChecker("1.00.0015");
  for (const std::string content : {"", "   ", "\r\n", " \r\n \t"}) {
    Serve("Strovant_lastver.txt", content);
    prompter_.clear();
    runs_.clear();
    EXPECT_FALSE(Run());
    ASSERT_EQ(prompter_.shown().size(), 1u) << "[" << content << "]";
    EXPECT_EQ(prompter_.shown()[0].text, kUnreadable);
    EXPECT_EQ(prompter_.shown()[0].icon, Icon::Critical);
    EXPECT_TRUE(runs_.empty());
  }
  // No version file on the server: its error page is not a version.
  fs::remove(served_ / "Strovant_lastver.txt");
  prompter_.clear();
  EXPECT_FALSE(AutoUpdaterSelfUpdate(env_));
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0], kUnreadable);
  EXPECT_EQ(ends_, 0);
}

TEST_F(Update, ServerNotThere) {
  // Nothing listens on port 9 of the test address.
  env_.updateServer = test::TestEnv("HTTP_HOST") + ":9";
  EXPECT_EQ(OpenURL(UpdateBaseUrl(env_.updateServer) + "Strovant_lastver.txt"), "");
  EXPECT_FALSE(Run());
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0], kUnreadable);
  EXPECT_TRUE(runs_.empty());
}

TEST_F(Update, FailedDownloadsLeaveTheOldCheckerAndSkipTheRun) {
  PutLocalChecker("1.00.0015");
  const std::string before = ReadFile(Local("Strovant.exe"));
  Serve("Strovant_lastver.txt", "16");
  // Neither program on the server: the first download fails, nothing is replaced.
  EXPECT_FALSE(Run());
  EXPECT_EQ(ReadFile(Local("Strovant.exe")), before);
  EXPECT_TRUE(runs_.empty());
  EXPECT_TRUE(prompter_.shown().empty());
  for (const auto& e : fs::directory_iterator(app_.path()))
    EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();

  // Only the checker there: it is fetched, the replacer is not, no run.
  Serve("Strovant.exe", "server checker");
  EXPECT_FALSE(AutoUpdaterSelfUpdate(env_));
  EXPECT_EQ(ReadFile(Local("Strovant.exe")), "server checker");
  EXPECT_FALSE(fs::exists(Local("Melquid.exe")));
}

TEST_F(Update, LeftoverNewBuildIsHandedToTheReplacerAfterTheCheckerRan) {
  PutLocalChecker("1.00.0015");
  Serve("Strovant_lastver.txt", "15");
  WriteFile(Local("New_brenvo-console"), "left from an earlier attempt");
  WriteFile(Local("Melquid.exe"), "replacer");
  EXPECT_FALSE(Run());
  ASSERT_EQ(runs_.size(), 1u);
  ASSERT_EQ(starts_.size(), 1u);
  EXPECT_EQ(starts_[0].a, Local("Melquid.exe"));
  EXPECT_EQ(starts_[0].b, "brenvo-console;New_brenvo-console");
  EXPECT_EQ(starts_[0].c, "min");
  EXPECT_EQ(ends_, 1);
  EXPECT_TRUE(prompter_.shown().empty());
}

TEST_F(Update, NewBuildFromTheCheckerWithoutReplacer) {
  PutLocalChecker("1.00.0015");
  Serve("Strovant_lastver.txt", "15");
  checkerLeavesNewBuild_ = true;
  EXPECT_FALSE(Run());
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0], "파일교체 프로그램을 찾을 수 없습니다.\r\n\r\n" + Local("Melquid.exe"));
  EXPECT_EQ(prompter_.shown()[0].icon, Icon::None);
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], app_.str());
  EXPECT_TRUE(starts_.empty());
  EXPECT_EQ(ends_, 1);
}

TEST_F(Update, ReplacerThatCannotStartIsReportedBeforeTheEnd) {
  PutLocalChecker("1.00.0015");
  Serve("Strovant_lastver.txt", "15");
  checkerLeavesNewBuild_ = true;
  WriteFile(Local("Melquid.exe"), "replacer");
  startWorks_ = false;
  Run();
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0],
            "Error 53 (File not found) in procedure RunAutoUpdate of Module modAutoUpdateV1_Launcher");
  EXPECT_EQ(ends_, 1);
}

TEST_F(Update, NoCheckerRunWithoutTheRunningExecutableInItsFolder) {
  PutLocalChecker("1.00.0015");
  Serve("Strovant_lastver.txt", "15");
  env_.exeName = "not-here";
  EXPECT_FALSE(Run());
  EXPECT_TRUE(runs_.empty());

  // skipSelfUpdate: no version file is read at all, the checker runs at once.
  env_.exeName = kExe;
  env_.updateServer = test::TestEnv("HTTP_HOST") + ":9";
  bool skip = true;
  RunAutoUpdate(skip, env_);
  EXPECT_EQ(runs_.size(), 1u);
  EXPECT_TRUE(prompter_.shown().empty());
}

TEST_F(Update, OverlongVersionNumberIsReportedAndTreatedAsZero) {
  PutLocalChecker("1.00.0015");
  Serve("Strovant_lastver.txt", "99999999999");
  Serve("Strovant.exe", "server checker");
  EXPECT_TRUE(AutoUpdaterSelfUpdate(env_));
  ASSERT_EQ(prompter_.messages().size(), 1u);
  EXPECT_EQ(prompter_.messages()[0],
            "Error 6 (Overflow) in procedure AutoUpdaterSelfUpdate of Module modAutoUpdateV1_Launcher");
  EXPECT_NE(ReadFile(Local("Strovant.exe")), "server checker");
}

TEST_F(Update, OpenUrlReadsTwentyBytesFresh) {
  Serve("long.txt", "12345678901234567890-and-more-that-is-never-read");
  const std::string url = UpdateBaseUrl(env_.updateServer) + "long.txt";
  EXPECT_EQ(OpenURL(url), "12345678901234567890");
  Serve("long.txt", "7");
  EXPECT_EQ(OpenURL(url), "7");
  EXPECT_EQ(OpenURL(UpdateBaseUrl(env_.updateServer) + "absent.txt"), "");
}

// The real process operations with stand-ins that are programs of this
// platform: the checker leaves "New_" + EXE and the replacer records what it
// was handed. Only the end of the program and the file browser are replaced.
TEST_F(Update, StandInProgramsThroughTheRealProcessOperations) {
  TempDir settingsDir;
  auto settings = MakeIniSettingsStore(settingsDir.str());
  settings->Save("Brenvo <-> CS 자료전환", "Config", "UpdateServer", env_.updateServer);
  LauncherEnv env = ProgramLauncherEnv(prompter_, *settings, "Brenvo <-> CS 자료전환", 31);
  EXPECT_EQ(env.updateServer, env_.updateServer);
  EXPECT_FALSE(env.appFolder.empty());
  EXPECT_FALSE(env.exeName.empty());
  env.appFolder = app_.str();
  env.exeName = kExe;
  int ends = 0;
  env.endProgram = [&] { ++ends; };
  env.openFolder = [](const std::string&) { return true; };

  Serve("Strovant_lastver.txt", "3");
  Serve("Strovant.exe",
        "#!/bin/sh\n"
        "printf '%s|%s' \"$*\" \"$(pwd)\" > checker-args.txt\n"
        "echo new > \"New_${1#*;}\"\n");
  Serve("Melquid.exe", "#!/bin/sh\nprintf '%s' \"$*\" > replacer-args.tmp && mv replacer-args.tmp replacer-args.txt\n");
  bool skip = false;
  RunAutoUpdate(skip, env);
  EXPECT_TRUE(prompter_.shown().empty());
  EXPECT_EQ(ReadFile(app_.path() / "checker-args.txt"), "31;brenvo-console|" + app_.str());
  EXPECT_TRUE(fs::exists(app_.path() / "New_brenvo-console"));
  EXPECT_EQ(ends, 1);
  // The replacer is not waited for; give it a moment to write its record.
  for (int i = 0; i < 200 && !fs::exists(app_.path() / "replacer-args.txt"); ++i) ::usleep(50 * 1000);
  EXPECT_EQ(ReadFile(app_.path() / "replacer-args.txt"), "brenvo-console;New_brenvo-console");
}

TEST(UpdateUrls, BaseUrlAndEscaping) {
  EXPECT_EQ(UpdateBaseUrl("203.0.113.30"), "http://203.0.113.30/download/자동업데이트_v1/");
  EXPECT_EQ(EscapeUrl("http://h/a b/자"), "http://h/a%20b/%EC%9E%90");
}

}  // namespace
}  // namespace brenvo::update
