// The version reader against PE files made by the MinGW resource compiler
// and linker, and against images written byte by byte for the cases a
// toolchain does not produce (PE32, damaged headers, no version resource).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>

#include "support/test_support.h"
#include "update/pe_builder.h"
#include "util/file_version.h"

namespace brenvo {
namespace {

using test::BuildPe;
using test::BuildVersionBlock;
using test::PeOptions;
using test::ScriptedPrompter;
using test::TempDir;
using test::VersionInfo;

std::string Save(const TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = (dir.path() / name).string();
  test::WriteFile(path, std::string(bytes.begin(), bytes.end()));
  return path;
}

bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(FileVersionToolchain, ReadsEveryEntryOfAWindresResource) {
  const std::string windres = "x86_64-w64-mingw32-windres", as = "x86_64-w64-mingw32-as",
                    ld = "x86_64-w64-mingw32-ld";
  if (!HaveTool(windres) || !HaveTool(as) || !HaveTool(ld))
    GTEST_SKIP() << "MinGW binutils not installed (binutils-mingw-w64-x86-64)";
  TempDir dir;
  const auto d = dir.str();
  test::WriteFile(dir.path() / "v.rc",
                  "1 VERSIONINFO\n"
                  "FILEVERSION 1,0,0,15\n"
                  "BEGIN\n"
                  "  BLOCK \"StringFileInfo\"\n"
                  "  BEGIN\n"
                  "    BLOCK \"041204b0\"\n"
                  "    BEGIN\n"
                  "      VALUE \"CompanyName\", \"Karvo\"\n"
                  "      VALUE \"FileDescription\", \"업데이트 확인\"\n"
                  "      VALUE \"FileVersion\", \"1.00.0015\"\n"
                  "      VALUE \"InternalName\", \"Strovant\"\n"
                  "      VALUE \"LegalCopyright\", \"(c) Karvo\"\n"
                  "      VALUE \"OriginalFilename\", \"Strovant.exe\"\n"
                  "      VALUE \"ProductName\", \"Strovant\"\n"
                  "      VALUE \"ProductVersion\", \"1.00\"\n"
                  "      VALUE \"Comments\", \"ok\"\n"
                  "      VALUE \"LegalTrademarks\", \"K\"\n"
                  "      VALUE \"SpecialBuild\", \"sb\"\n"
                  "    END\n"
                  "  END\n"
                  "  BLOCK \"VarFileInfo\"\n"
                  "  BEGIN\n"
                  "    VALUE \"Translation\", 0x412, 1200\n"
                  "  END\n"
                  "END\n");
  test::WriteFile(dir.path() / "s.s", ".globl start\nstart: ret\n");
  std::string cmd = "cd '" + d + "' && " + windres + " --preprocessor=cat -c 65001 v.rc -O coff -o v.o && " + as +
                    " s.s -o s.o && " + ld + " -e start s.o v.o -o t.exe";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  auto e = GetFileVer(d + "/t.exe");
  ASSERT_EQ(e.size(), 13u);
  EXPECT_EQ(e[0], "CompanyName: Karvo");
  EXPECT_EQ(e[1], "FileDescription: 업데이트 확인");
  EXPECT_EQ(e[2], "FileVersion: 1.00.0015");
  EXPECT_EQ(e[5], "OriginalFilename: Strovant.exe");
  EXPECT_EQ(e[7], "ProductVersion: 1.00");
  EXPECT_EQ(e[10], "PrivateBuild: Not specified");
  EXPECT_EQ(e[11], "SpecialBuild: sb");
  EXPECT_EQ(e[12], "Language: Korean");
  EXPECT_EQ(GetFileVerText(d + "/t.exe", true, true), "1.00.15");
  EXPECT_EQ(GetFileVerText(d + "/t.exe", false, true), "1.00");
}

TEST(FileVersion, Pe32AndPe32PlusGiveTheSameEntries) {
  VersionInfo info;
  info.tableKey = "040904E4";
  info.strings = {{"FileVersion", "2.1.0.7"}, {"CompanyName", "Karvo"}, {"ProductName", "콘솔"}};
  auto block = BuildVersionBlock(info);
  TempDir dir;
  PeOptions o32;
  o32.pe32plus = false;
  auto a = GetFileVer(Save(dir, "a.exe", BuildPe(block)));
  auto b = GetFileVer(Save(dir, "b.exe", BuildPe(block, o32)));
  ASSERT_EQ(a.size(), 13u);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a[0], "CompanyName: Karvo");
  EXPECT_EQ(a[1], "FileDescription: Not specified");
  EXPECT_EQ(a[2], "FileVersion: 2.1.0.7");
  EXPECT_EQ(a[6], "ProductName: 콘솔");
  EXPECT_EQ(a[10], "PrivateBuild: Not specified");
  EXPECT_EQ(a[12], "Language: English - United States");
}

TEST(FileVersion, LanguageEntryEdges) {
  TempDir dir;
  VersionInfo unknown;
  unknown.tableKey = "7F7F04b0";
  unknown.strings = {{"FileVersion", "1.0"}};
  auto e = GetFileVer(Save(dir, "u.exe", BuildPe(BuildVersionBlock(unknown))));
  ASSERT_EQ(e.size(), 13u);
  EXPECT_EQ(e[12], "Language: ");

  // No string table at all: every key is missing and the language entry
  // keeps its bare name.
  VersionInfo none;
  none.withStringFileInfo = false;
  e = GetFileVer(Save(dir, "n.exe", BuildPe(BuildVersionBlock(none))));
  ASSERT_EQ(e.size(), 13u);
  EXPECT_EQ(e[2], "FileVersion: Not specified");
  EXPECT_EQ(e[12], "Language");
  EXPECT_EQ(GetFileVerText(dir.str() + "/n.exe", true, true), "");
}

TEST(FileVersion, LanguageTable) {
  EXPECT_EQ(GetLanguageName("041204b0"), "Korean");
  EXPECT_EQ(GetLanguageName("0409"), "English - United States");
  EXPECT_EQ(GetLanguageName("0c0a"), "");  // not a row: Spanish - Standard is 040A
  EXPECT_EQ(GetLanguageName("0c0c04b0"), "French - Canada");
  EXPECT_EQ(GetLanguageName("041"), "");
  EXPECT_EQ(GetLanguageName(""), "");
  EXPECT_EQ(GetLanguageName("0401"), "Arabic - Saudia Arabia");
  EXPECT_EQ(GetLanguageName("0422"), "Ukranian");
  EXPECT_EQ(GetLanguageName("1407"), "German - Lichtenstein");
  EXPECT_EQ(GetLanguageName("240a"), "Spanish - Columbia");
  EXPECT_EQ(GetLanguageName("0414"), "Norwegian - Bokm책l");
  EXPECT_EQ(GetLanguageName("0435"), "Zulu");
  EXPECT_EQ(GetLanguageName("0436"), "Afrikaans");
}

TEST(FileVersionText, Normalisation) {
  TempDir dir;
  auto path = [&](const std::string& v) { return Save(dir, "x.exe", test::PeWithFileVersion(v)); };
  EXPECT_EQ(GetFileVerText(path("1.00.0015"), true, true), "1.00.15");
  EXPECT_EQ(GetFileVerText(path("1.00.0015"), false, true), "1.00");
  EXPECT_EQ(GetFileVerText(path("3.2.1.0000"), true, true), "3.2.1.0");
  EXPECT_EQ(GetFileVerText(path("0042"), true, true), "42");
  ScriptedPrompter p;
  EXPECT_EQ(GetFileVerText(path("15"), false, false, &p), "");
  ASSERT_EQ(p.messages().size(), 1u);
  EXPECT_EQ(p.messages()[0], "Error 5 (Invalid procedure call or argument) in procedure GetFileVer of Module mdlFile");
  p.clear();
  // The resource compiler's comma form has no dots and is no number.
  EXPECT_EQ(GetFileVerText(path("1, 0, 0, 15"), true, false, &p), "");
  ASSERT_EQ(p.messages().size(), 1u);
  EXPECT_EQ(p.messages()[0], "Error 13 (Type mismatch) in procedure GetFileVer of Module mdlFile");
  p.clear();
  EXPECT_EQ(GetFileVerText(path("1.0.99999999999"), true, false, &p), "");
  ASSERT_EQ(p.messages().size(), 1u);
  EXPECT_EQ(p.messages()[0], "Error 6 (Overflow) in procedure GetFileVer of Module mdlFile");
}

TEST(FileVersion, FilesWithoutAVersionResource) {
  TempDir dir;
  auto block = BuildVersionBlock(VersionInfo{});
  PeOptions iconOnly;
  iconOnly.withResource = false;
  PeOptions noDir;
  noDir.withResourceDirectory = false;
  std::vector<std::string> paths = {
      Save(dir, "icon.exe", BuildPe(block, iconOnly)),
      Save(dir, "nodir.exe", BuildPe(block, noDir)),
      Save(dir, "text.exe", {'h', 'e', 'l', 'l', 'o'}),
      Save(dir, "empty.exe", {}),
      dir.str() + "/missing.exe",
  };
  auto whole = BuildPe(block);
  paths.push_back(Save(dir, "cut.exe", std::vector<uint8_t>(whole.begin(), whole.begin() + 0x220)));
  for (const auto& p : paths) {
    EXPECT_TRUE(GetFileVer(p).empty()) << p;
    ScriptedPrompter silent;
    EXPECT_EQ(GetFileVerText(p, true, true, &silent), "") << p;
    EXPECT_TRUE(silent.shown().empty()) << p;
    ScriptedPrompter loud;
    EXPECT_EQ(GetFileVerText(p, true, false, &loud), "") << p;
    ASSERT_EQ(loud.messages().size(), 1u) << p;
    EXPECT_EQ(loud.messages()[0], "Error 13 (Type mismatch) in procedure GetFileVer of Module mdlFile");
  }
}

// Damaged images must give an answer (entries or nothing), never a crash or
// a read outside the file.
TEST(FileVersion, DamagedImagesNeverCrash) {
  VersionInfo info;
  info.strings = {{"FileVersion", "1.2.3"}, {"CompanyName", "Karvo"}};
  const auto good = BuildPe(BuildVersionBlock(info));
  TempDir dir;
  std::mt19937 rng(20261208);
  for (int round = 0; round < 400; ++round) {
    auto bad = good;
    int flips = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < flips; ++i) {
      // Most damage goes to the headers and the resource tree, where offsets live.
      size_t at = (rng() % 4 == 0) ? rng() % bad.size() : rng() % 0x280;
      bad[at] = static_cast<uint8_t>(rng());
    }
    if (round % 10 == 0) bad.resize(rng() % bad.size());
    auto e = GetFileVer(Save(dir, "f.exe", bad));
    EXPECT_TRUE(e.empty() || e.size() == 13u);
  }
}

}  // namespace
}  // namespace brenvo
