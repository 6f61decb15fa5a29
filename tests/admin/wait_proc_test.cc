// ShellAndWait: real programs, started without a shell and waited for.
#include "admin/wait_proc.h"

#include <gtest/gtest.h>

#include <filesystem>

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
