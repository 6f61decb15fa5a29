// ShellAndWait: real programs, started without a shell and waited for.
#include "admin/wait_proc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/test_support.h"

namespace fs = std::filesystem;
using brenvo::admin::ShellAndWait;
using brenvo::admin::ShellOptions;
using brenvo::test::ReadFile;
using brenvo::test::TempDir;

TEST(ShellAndWait, WaitsForTheProgramAndGivesItsExitStatus) {
  TempDir dir;
  fs::path done = dir.path() / "done";
  // The file appears only after a pause: it must be there when we return.
  auto rc = ShellAndWait("sh", 0, {"-c", "sleep 0.3; echo x > \"$0\"; exit 7", done.string()});
  ASSERT_TRUE(rc.has_value());
  EXPECT_EQ(*rc, 7);
  EXPECT_TRUE(fs::exists(done));
}

TEST(ShellAndWait, ArgumentsReachTheProgramUntouchedByAnyShell) {
  TempDir dir;
  ShellOptions o;
  o.directory = dir.str();
  o.stdoutFile = (dir.path() / "out.txt").string();
  // Were these ever given to a shell, "victim" would be created and $HOME expanded.
  std::vector<std::string> args = {"db; touch victim", "$(touch victim2)", "a > b", "$HOME", "x' OR '1'='1", ""};
  std::vector<std::string> all = {"[%s]\n"};
  all.insert(all.end(), args.begin(), args.end());
  ASSERT_EQ(ShellAndWait("printf", 0, all, o), 0);
  EXPECT_EQ(ReadFile(o.stdoutFile), "[db; touch victim]\n[$(touch victim2)]\n[a > b]\n[$HOME]\n[x' OR '1'='1]\n[]\n");
  EXPECT_FALSE(fs::exists(dir.path() / "victim"));
  EXPECT_FALSE(fs::exists(dir.path() / "victim2"));
  EXPECT_FALSE(fs::exists(dir.path() / "b"));
}

TEST(ShellAndWait, StartsInTheGivenFolderAndReplacesTheOutputFile) {
  TempDir dir;
  fs::create_directory(dir.path() / "work");
  ShellOptions o;
  o.directory = (dir.path() / "work").string();
  o.stdoutFile = (dir.path() / "out.txt").string();
  brenvo::test::WriteFile(o.stdoutFile, "an earlier, much longer output that must not survive\n");
  ASSERT_EQ(ShellAndWait("pwd", 0, {}, o), 0);
  EXPECT_EQ(ReadFile(o.stdoutFile), fs::canonical(dir.path() / "work").string() + "\n");
  EXPECT_EQ(fs::status(o.stdoutFile).permissions() & (fs::perms::group_all | fs::perms::others_all),
            fs::perms::none);
}

TEST(ShellAndWait, HiddenProgramsReadNothingAndStillWriteTheOutputFile) {
  TempDir dir;
  ShellOptions o;
  o.hidden = true;
  o.stdoutFile = (dir.path() / "out.txt").string();
  // cat of standard input ends at once on /dev/null instead of waiting for a terminal.
  ASSERT_EQ(ShellAndWait("sh", 0, {"-c", "cat; echo seen; echo hidden >&2"}, o), 0);
  EXPECT_EQ(ReadFile(o.stdoutFile), "seen\n");
  // Minimized and normal keep the streams; both start the program alike.
  o.hidden = false;
  o.minimized = true;
  EXPECT_EQ(ShellAndWait("sh", 0, {"-c", "echo min"}, o), 0);
  EXPECT_EQ(ReadFile(o.stdoutFile), "min\n");
}

TEST(ShellAndWait, NothingStartedReturnsAtOnceWithoutAStatus) {
  TempDir dir;
  EXPECT_FALSE(ShellAndWait("brenvo-no-such-program", 0, {}).has_value());
  EXPECT_FALSE(ShellAndWait((dir.path() / "missing").string(), 0, {}).has_value());
  EXPECT_FALSE(ShellAndWait("", 0, {}).has_value());
  ShellOptions o;
  o.stdoutFile = (dir.path() / "no-folder" / "out.txt").string();
  fs::path marker = dir.path() / "ran";
  EXPECT_FALSE(ShellAndWait("touch", 0, {marker.string()}, o).has_value());
  EXPECT_FALSE(fs::exists(marker));
}

TEST(ShellAndWait, ErrorOutputGoesToItsOwnFile) {
  TempDir dir;
  ShellOptions o;
  o.stdoutFile = (dir.path() / "out.txt").string();
  o.stderrFile = (dir.path() / "err.txt").string();
  ASSERT_EQ(ShellAndWait("sh", 0, {"-c", "echo out; echo 'Unknown database' >&2; exit 2"}, o), 2);
  EXPECT_EQ(ReadFile(o.stdoutFile), "out\n");
  EXPECT_EQ(ReadFile(o.stderrFile), "Unknown database\n");
  EXPECT_EQ(fs::status(o.stderrFile).permissions() & (fs::perms::group_all | fs::perms::others_all),
            fs::perms::none);
}

TEST(ShellAndWait, ACancelEndsTheProgramAndReturnsWithoutAStatus) {
  TempDir dir;
  ShellOptions o;
  int asked = 0;
  o.cancelRequested = [&] { return ++asked > 3; };
  const auto t0 = std::chrono::steady_clock::now();
  // A program that ignores SIGTERM is killed after the grace period.
  EXPECT_FALSE(ShellAndWait("sh", 0, {"-c", "trap '' TERM; sleep 30"}, o).has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
  asked = 0;
  o.cancelRequested = [] { return false; };
  EXPECT_EQ(ShellAndWait("sh", 0, {"-c", "sleep 0.3; exit 4"}, o), 4);
}

TEST(StartProgram, StartsWithoutWaitingInTheGivenFolder) {
  TempDir dir;
  fs::path marker = dir.path() / "started";
  ASSERT_TRUE(brenvo::admin::StartProgram("sh", {"-c", "pwd > started"}, dir.str()));
  for (int i = 0; i < 100 && !fs::exists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ReadFile(marker.string()), fs::canonical(dir.path()).string() + "\n");
  EXPECT_FALSE(brenvo::admin::StartProgram("brenvo-no-such-program", {}));
}

TEST(FindProgram, TakesTheFirstNameOnThePath) {
  EXPECT_EQ(brenvo::admin::FindProgram({"brenvo-no-such-program", "sh"}), brenvo::admin::FindProgram({"sh"}));
  EXPECT_NE(brenvo::admin::FindProgram({"sh"}).find("/sh"), std::string::npos);
  EXPECT_EQ(brenvo::admin::FindProgram({"brenvo-no-such-program"}), "");
}
