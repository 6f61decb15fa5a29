// modFTP against the real FTP server of the test harness.
#include "admin/ftp.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "support/test_support.h"

namespace fs = std::filesystem;
using brenvo::Icon;
using brenvo::admin::FtpClient;
using brenvo::admin::ProgressDisplay;
using brenvo::test::ReadFile;
using brenvo::test::ScriptedPrompter;
using brenvo::test::TempDir;
using brenvo::test::TestEnv;

namespace {

// A bar that records how its value moved.
struct RecordingBar : ProgressDisplay {
  int max = 100, value = 0, maxSets = 0, wraps = 0, peak = 0;
  int Max() const override { return max; }
  void SetMax(int m) override {
    max = m;
    ++maxSets;
  }
  int Value() const override { return value; }
  void SetValue(int v) override {
    if (v == 0 && value != 0) ++wraps;
    value = v;
    peak = std::max(peak, v);
  }
};

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 g(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(g());
  return s;
}

// A remote name no parallel test shares.
std::string RemoteName(const std::string& stem) {
  static int counter = 0;
  return stem + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter) + ".bin";
}

class FtpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_TEST_ENV("FTP_HOST");
    host = TestEnv("FTP_HOST");
    root = TestEnv("FTP_ROOT");
  }
  bool Open(FtpClient& ftp, int16_t passive = 0, const std::string& password = "7461") {
    bool ok = ftp.FTP_Open(host, "administrator", password, 21, passive);
    if (!ok && password == "7461")
      for (const auto& m : prompter.messages()) ADD_FAILURE() << "FTP_Open: " << m;
    return ok;
  }
  std::string host;
  fs::path root;
  ScriptedPrompter prompter;
  TempDir dir;
};

}  // namespace

TEST_F(FtpTest, FilesOfEveryBlockBoundaryArriveByteIdentical) {
  FtpClient ftp(prompter);
  ASSERT_TRUE(Open(ftp));
  struct Case {
    size_t size;
    int writes;
  };
  for (Case c : {Case{0, 0}, Case{1, 1}, Case{1023, 1}, Case{1024, 1}, Case{1025, 2}, Case{1024 * 7, 7},
                 Case{1024 * 300 + 5, 301}}) {
    SCOPED_TRACE(c.size);
    std::string name = RemoteName("size" + std::to_string(c.size));
    fs::path local = dir.path() / name;
    std::string bytes = RandomBytes(c.size, static_cast<unsigned>(c.size));
    brenvo::test::WriteFile(local, bytes);
    RecordingBar bar;
    ASSERT_TRUE(ftp.FTP_UPLoad(local.string(), "", "", &bar));
    EXPECT_EQ(ftp.lastWriteCount(), c.writes);
    ASSERT_TRUE(fs::exists(root / name));
    EXPECT_EQ(ReadFile(root / name), bytes);
    size_t blocks = c.size / 1024;
    // No whole block: the maximum stays as it was; otherwise it is the block count.
    EXPECT_EQ(bar.max, blocks == 0 ? 100 : static_cast<int>(blocks));
    EXPECT_EQ(bar.value, static_cast<int>(blocks));
  }
  EXPECT_TRUE(prompter.shown().empty());
  ftp.FTP_Close();
}

TEST_F(FtpTest, ProgressIsCappedAndWrapsAroundPastTheCap) {
  // 32767 + 10 blocks: the maximum stops at the cap and the bar restarts once.
  const size_t blocks = 32767 + 10;
  std::string name = RemoteName("big");
  fs::path local = dir.path() / name;
  std::string bytes = RandomBytes(blocks * 1024 + 3, 99);
  brenvo::test::WriteFile(local, bytes);
  FtpClient ftp(prompter);
  ASSERT_TRUE(Open(ftp, 1));
  RecordingBar bar;
  ASSERT_TRUE(ftp.FTP_UPLoad(local.string(), "", "", &bar));
  EXPECT_EQ(bar.max, 32767);
  EXPECT_EQ(bar.peak, 32767);
  EXPECT_EQ(bar.wraps, 1);
  // Block 32768 set the value to 0; the remaining nine counted on from there.
  EXPECT_EQ(bar.value, 9);
  EXPECT_EQ(ftp.lastWriteCount(), static_cast<int>(blocks) + 1);
  EXPECT_EQ(fs::file_size(root / name), bytes.size());
  EXPECT_EQ(ReadFile(root / name), bytes);
  fs::remove(root / name);
}

TEST_F(FtpTest, PassiveOnlyForOneAndBothModesWork) {
  for (int16_t passive : {0, 1, 2, -1}) {
    SCOPED_TRACE(passive);
    FtpClient ftp(prompter);
    ASSERT_TRUE(Open(ftp, passive));
    std::string name = RemoteName("mode" + std::to_string(passive));
    fs::path local = dir.path() / name;
    brenvo::test::WriteFile(local, RandomBytes(5000, 5));
    ASSERT_TRUE(ftp.FTP_UPLoad(local.string(), "", "", nullptr));
    EXPECT_EQ(ReadFile(root / name), ReadFile(local));
    // The server notes which data connection each stored file came over.
    std::string modes = ReadFile(TestEnv("FTP_MODES"));
    std::string line = (root / name).string() + (passive == 1 ? " passive\n" : " active\n");
    EXPECT_NE(modes.find(line), std::string::npos) << modes;
  }
  EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(FtpTest, RemoteNameAndFolderChooseWhereTheFileGoes) {
  std::string sub = RemoteName("folder");
  fs::create_directory(root / sub);
  fs::path local = dir.path() / "local-name.bin";
  brenvo::test::WriteFile(local, "abc");
  FtpClient ftp(prompter);
  ASSERT_TRUE(Open(ftp));
  // An absolute folder: from the server's root.
  ASSERT_TRUE(ftp.FTP_UPLoad(local.string(), "/" + sub, "given 이름.7z", nullptr));
  EXPECT_EQ(ReadFile(root / sub / "given 이름.7z"), "abc");
  EXPECT_FALSE(fs::exists(root / sub / "local-name.bin"));
  EXPECT_FALSE(fs::exists(root / "local-name.bin"));
}

TEST_F(FtpTest, RefusedLoginAndUnreachableServerShowTheirMessages) {
  FtpClient ftp(prompter);
  EXPECT_FALSE(Open(ftp, 0, "wrong"));
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].text, "서버 접속 실패!\r\n오류번호: 67");
  EXPECT_EQ(prompter.shown()[0].icon, Icon::Exclamation);
  EXPECT_FALSE(ftp.connected());

  prompter.clear();
  // Nothing listens on port 21 of this address of the run's range.
  std::string nowhere = host.substr(0, host.rfind('.')) + ".250";
  EXPECT_FALSE(ftp.FTP_Open(nowhere, "administrator", "7461", 21, 0));
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].text, "서버 접속 실패!\r\n오류번호: 7");

  // A server text that is more than a host never becomes part of a URL.
  prompter.clear();
  EXPECT_FALSE(ftp.FTP_Open(host + "/x@evil", "administrator", "7461", 21, 0));
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].text, "서버 접속 실패!\r\n오류번호: 3");
}

TEST_F(FtpTest, UploadRefusalsAndTheirMessages) {
  FtpClient ftp(prompter);
  ASSERT_TRUE(Open(ftp));

  // No folder separator in the local name and no remote name.
  EXPECT_FALSE(ftp.FTP_UPLoad("plainname.7z", "", "", nullptr));
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].text, "파일명을 알수 없습니다.");
  EXPECT_EQ(prompter.shown()[0].title, "FTP Upload");

  // A missing local file is found out before the server is asked, so no
  // empty file is left there.
  prompter.clear();
  std::string name = RemoteName("missing");
  EXPECT_FALSE(ftp.FTP_UPLoad((dir.path() / name).string(), "", "", nullptr));
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].text, "Error 53 (File not found) in procedure FTP_UPLoad of Module modFTP");
  EXPECT_FALSE(fs::exists(root / name));

  // A folder that does not exist on the server.
  prompter.clear();
  fs::path local = dir.path() / "x.bin";
  brenvo::test::WriteFile(local, "x");
  EXPECT_FALSE(ftp.FTP_UPLoad(local.string(), "/no-such-folder-here", "", nullptr));
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].text.rfind(
                "FTP서버에 파일저장 준비중 오류가 발생했습니다.\r\n존재하는 경로인지 확인바랍니다.\r\n\r\n오류번호: ", 0),
            0u)
      << prompter.shown()[0].text;
  EXPECT_EQ(prompter.shown()[0].icon, Icon::Exclamation);

  // The connection is still good after a refusal.
  prompter.clear();
  name = RemoteName("after");
  EXPECT_TRUE(ftp.FTP_UPLoad(local.string(), "", name, nullptr));
  EXPECT_EQ(ReadFile(root / name), "x");
  EXPECT_TRUE(prompter.shown().empty());
}

TEST_F(FtpTest, CloseLeavesNoConnectionBehind) {
  FtpClient ftp(prompter);
  ASSERT_TRUE(Open(ftp));
  EXPECT_TRUE(ftp.connected());
  ftp.FTP_Close();
  EXPECT_FALSE(ftp.connected());
  ftp.FTP_Close();  // twice is harmless

  fs::path local = dir.path() / "y.bin";
  brenvo::test::WriteFile(local, "y");
  std::string name = RemoteName("closed");
  EXPECT_FALSE(ftp.FTP_UPLoad(local.string(), "", name, nullptr));
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].text.rfind("FTP서버에 파일저장 준비중 오류가 발생했습니다.", 0), 0u);
  EXPECT_FALSE(fs::exists(root / name));

  // A second open replaces the first, and uploads go on.
  prompter.clear();
  ASSERT_TRUE(Open(ftp, 1));
  ASSERT_TRUE(Open(ftp, 0));
  EXPECT_TRUE(ftp.FTP_UPLoad(local.string(), "", name, nullptr));
  EXPECT_EQ(ReadFile(root / name), "y");
}

TEST_F(FtpTest, AStopEndsTheUploadWithoutAMessage) {
  // A bar whose person at the screen asks to stop after the first blocks.
  struct StoppingBar : RecordingBar {
    bool Cancelled() const override { return value >= 3; }
  };
  std::string name = RemoteName("stopped");
  fs::path local = dir.path() / name;
  brenvo::test::WriteFile(local, RandomBytes(1024 * 4000, 7));
  FtpClient ftp(prompter);
  ASSERT_TRUE(Open(ftp));
  StoppingBar bar;
  EXPECT_FALSE(ftp.FTP_UPLoad(local.string(), "", "", &bar));
  EXPECT_TRUE(prompter.shown().empty()) << "a stop asked for is not an error to report";
  EXPECT_LT(bar.value, 4000);
  // The connection still serves the next upload.
  RecordingBar plain;
  EXPECT_TRUE(ftp.FTP_UPLoad(local.string(), "", RemoteName("after"), &plain));
  ftp.FTP_Close();
}
