#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "support/test_support.h"
#include "util/settings_store.h"

namespace brenvo {
namespace {

TEST(SettingsStore, DefaultThenSavedValueAcrossInstances) {
  test::TempDir dir;
  auto s = MakeIniSettingsStore(dir.str());
  EXPECT_EQ(s->Get("Brenvo", "Config", "AppPath", "C:\\Brenvo"), "C:\\Brenvo");
  s->Save("Brenvo <-> CS 자료전환", "Config", "cs접속정보0", "abc");
  auto again = MakeIniSettingsStore(dir.str());
  EXPECT_EQ(again->Get("Brenvo <-> CS 자료전환", "Config", "cs접속정보0"), "abc");
  EXPECT_EQ(again->Get("Brenvo <-> CS 자료전환", "Other", "cs접속정보0", "d"), "d");
  EXPECT_EQ(again->Get("Brenvo", "Config", "cs접속정보0", "d"), "d");
}

TEST(SettingsStore, KeepsEmptyAndSpecialValues) {
  test::TempDir dir;
  auto s = MakeIniSettingsStore(dir.str());
  s->Save("A", "Config", "k", "");
  EXPECT_EQ(s->Get("A", "Config", "k", "default"), "");
  s->Save("A", "Config", "p", "C:\\x;y=z, \"q\" 한글");
  EXPECT_EQ(s->Get("A", "Config", "p"), "C:\\x;y=z, \"q\" 한글");
}

unsigned ModeOf(const std::filesystem::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st.st_mode & 0777;
}

// The remembered sign-in password lives here in plain text.
TEST(SettingsStore, FilesAreTheUsersAloneAlsoWhenQSettingsMakesThem) {
  test::TempDir dir;
  const auto folder = dir.path() / "made" / "here";
  auto s = MakeIniSettingsStore(folder.string());
  s->Save("Karvo 업무관리", "Config", "passwd", "secret");
  EXPECT_EQ(ModeOf(folder), 0700u);
  EXPECT_EQ(ModeOf(folder / "Karvo 업무관리.ini"), 0600u);
  // A file left readable by an earlier version is narrowed by the next save.
  std::filesystem::permissions(folder / "Karvo 업무관리.ini", std::filesystem::perms(0644));
  s->Save("Karvo 업무관리", "Config", "issave_passwd", "1");
  EXPECT_EQ(ModeOf(folder / "Karvo 업무관리.ini"), 0600u);
  EXPECT_EQ(s->Get("Karvo 업무관리", "Config", "passwd"), "secret");
}

TEST(SettingsStore, TheDefaultFolderIsNarrowedWhateverItsMode) {
  test::TempDir home;
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", home.str().c_str(), 1);
  std::filesystem::create_directories(home.path() / "karvo");
  std::filesystem::permissions(home.path() / "karvo", std::filesystem::perms(0755));
  auto s = MakeIniSettingsStore();
  s->Save("Karvo 업무관리", "Config", "passwd", "secret");
  if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(ModeOf(home.path() / "karvo"), 0700u);
  EXPECT_EQ(ModeOf(home.path() / "karvo" / "Karvo 업무관리.ini"), 0600u);
}

}  // namespace
}  // namespace brenvo
