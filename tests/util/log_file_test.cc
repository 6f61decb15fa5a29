#include <sys/stat.h>
#include <unistd.h>

#include "support/test_support.h"
#include "util/log_file.h"

namespace brenvo {
namespace {

std::time_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST(LogFileName, StampAndUserId) {
  auto t = LocalTime(2026, 12, 7, 10, 45, 12);
  EXPECT_EQ(MakeLogFilePath("/p", "abc", t), "/p/20261207_104512_abc.log");
  EXPECT_EQ(MakeLogFilePath("/p", "", t), "/p/20261207_104512_.log");
}

TEST(LogFile, AppendsCp949WithCrLf) {
  test::TempDir dir;
  auto path = dir.path() / "a.log";
  ASSERT_TRUE(AppendLineCp949(path.string(), "고객 1"));
  ASSERT_TRUE(AppendLineCp949(path.string(), "x"));
  EXPECT_EQ(test::ReadFile(path), std::string("\xB0\xED\xB0\xB4 1\r\nx\r\n"));
}

TEST(LogFile, FailuresAreQuiet) {
  EXPECT_FALSE(AppendLineCp949("", "x"));
  EXPECT_FALSE(AppendLineCp949("/nonexistent-folder/x/y.log", "x"));
  if (geteuid() != 0) {
    test::TempDir dir;
    chmod(dir.str().c_str(), 0500);
    EXPECT_FALSE(AppendLineCp949((dir.path() / "z.log").string(), "x"));
  }
}

}  // namespace
}  // namespace brenvo
