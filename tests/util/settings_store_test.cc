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

}  // namespace
}  // namespace brenvo
