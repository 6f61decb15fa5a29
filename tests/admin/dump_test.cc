// Dump, compress and upload with the real mysqldump, 7z and FTP server.
#include "admin/dump.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "admin/wait_proc.h"
#include "admin_fixture.h"
#include "util/korean.h"

namespace fs = std::filesystem;
using namespace brenvo;
using admin::DumpAndUpload;
using admin::ShellAndWait;
using test::ReadFile;
using test::RootExec;
using test::RootQuery;
using test::TestEnv;
using test::UniqueName;

namespace {

class DumpTest : public test::AdminFixture {
 protected:
  void SetUp() override {
    AdminFixture::SetUp();
    if (IsSkipped()) return;
    REQUIRE_TEST_ENV("FTP_HOST");
    ftpHost = TestEnv("FTP_HOST");
    ftpRoot = TestEnv("FTP_ROOT");
    settings->Save(admin::kRootPwdApp, "Config", "rootpwd", local.rootPassword);
    db = UniqueName("dump");
    id = UniqueName("du");
    AddDatabase(local, db);
    RootExec(local, "CREATE TABLE `" + db + "`.customer (id INT PRIMARY KEY, name VARCHAR(40));"
                    "INSERT INTO `" + db + "`.customer VALUES (1, '가나다'), (2, 'O''Brien'), (3, NULL)");
    Type(id, db, "localhost");
  }
  fs::path Dumps() const { return folder.path() / "dumps"; }
  std::string Log() const { return console->LogText(); }
  bool Logged(const std::string& line) const { return Log().find(line) != std::string::npos; }

  std::string db, id, ftpHost;
  fs::path ftpRoot;
};

bool silentNo = false;

}  // namespace

TEST_F(DumpTest, LocalDumpIsPackedUploadedAndLoadsBack) {
  AddPriv(db, id, 1, ftpHost);
  prompter.QueueAnswers({true, true});
  DumpAndUpload(*console, silentNo);

  // The two questions, then the final notice.
  ASSERT_EQ(prompter.shown().size(), 3u);
  EXPECT_EQ(prompter.shown()[0].text, "정말 dump를 하시겠습니까?\r\n\r\n2단계의 CS접속정보로 dump처리합니다.(id,db명,host)");
  EXPECT_TRUE(prompter.shown()[0].defaultNo);
  EXPECT_EQ(prompter.shown()[1].text, "sql파일압축 및 ftp전송을 할까요?");
  EXPECT_TRUE(prompter.shown()[1].defaultNo);
  EXPECT_EQ(prompter.shown()[2].text, "dump처리가 완료되었습니다.");

  const fs::path sql = Dumps() / (db + ".sql"), archive = Dumps() / (db + ".7z");
  ASSERT_TRUE(fs::exists(sql));
  std::string dump = ReadFile(sql);
  EXPECT_NE(dump.find("CREATE TABLE `customer`"), std::string::npos);

  // The dump loads into a fresh database with the same rows.
  std::string fresh = UniqueName("reload");
  AddDatabase(local, fresh);
  ASSERT_EQ(ShellAndWait("sh", 0,
                         {"-c", "exec mysql --no-defaults -S \"$1\" -uroot -p\"$2\" \"$3\" < \"$4\"", "sh", local.socket,
                          local.rootPassword, fresh, sql.string()}),
            0);
  EXPECT_EQ(RootQuery(local, "SELECT id, name FROM `" + fresh + "`.customer ORDER BY id"),
            RootQuery(local, "SELECT id, name FROM `" + db + "`.customer ORDER BY id"));
  EXPECT_EQ(RootQuery(local, "SELECT COUNT(*) FROM `" + fresh + "`.customer")[0][0], "3");

  // The archive holds the dump byte for byte, and the server holds the archive.
  ASSERT_TRUE(fs::exists(archive));
  admin::ShellOptions o;
  o.stdoutFile = (folder.path() / "unpacked.sql").string();
  ASSERT_EQ(ShellAndWait(admin::SevenZipProgram(), 0, {"e", "-so", archive.string()}, o), 0);
  EXPECT_EQ(ReadFile(o.stdoutFile), dump);
  ASSERT_TRUE(fs::exists(ftpRoot / (db + ".7z")));
  EXPECT_EQ(ReadFile(ftpRoot / (db + ".7z")), ReadFile(archive));

  EXPECT_TRUE(Logged("GetIPFromUserID Start..."));
  EXPECT_TRUE(Logged("* FTP전송 성공! - " + ftpHost + " / " + db + ".7z"));
  EXPECT_TRUE(Logged("(will) mysql> mysql -uroot -p " + db + " < " + db + ".sql"));
  // The database stays as it was: logging mode blocks nothing.
  EXPECT_EQ(Active(db), "1");
}

TEST_F(DumpTest, CaptionStepsAndTheCaptionPutBack) {
  AddPriv(db, id, 1, ftpHost);
  const std::string before = console->Caption();
  prompter.QueueAnswers({true, true});
  DumpAndUpload(*console, silentNo);
  EXPECT_EQ(console->captions,
            (std::vector<std::string>{before + " - [SETP 1/4] db dumping...",
                                      before + " - [SETP 3/4] 7zip adding...( 7z a archive1.zip(또는 archive1.7z) c:\\temp\\",
                                      before + " - [SETP 3/4] FTP Uploading...", before}));
  EXPECT_EQ(console->Caption(), before);
}

TEST_F(DumpTest, OtherHostsStopAfterTheDump) {
  for (std::string host : {std::string("LOCALHOST"), local.host}) {
    SCOPED_TRACE(host);
    fs::remove_all(Dumps());
    console->ClearLog();
    prompter.clear();
    Type(id, db, host);
    prompter.QueueAnswer(true);
    DumpAndUpload(*console, silentNo);
    EXPECT_FALSE(fs::exists(Dumps() / (db + ".7z")));
    if (host == "LOCALHOST") {
      // A name, not the socket: nothing answers there, and the dump says so.
      ASSERT_EQ(prompter.messages().size(), 1u);
      // Its own words: "Can't connect" or "Unknown server host", as the machine resolves the name.
      EXPECT_EQ(prompter.messages()[0].rfind("dump에 실패했습니다. (mysqldump 종료코드 2)", 0), 0u) << prompter.messages()[0];
      EXPECT_NE(prompter.messages()[0].find("mysqldump: Got error"), std::string::npos) << prompter.messages()[0];
      EXPECT_FALSE(fs::exists(Dumps() / (db + ".sql")));
      continue;
    }
    EXPECT_EQ(prompter.messages(), std::vector<std::string>{"dump처리가 완료되었습니다."});
    EXPECT_TRUE(fs::exists(Dumps() / (db + ".sql")));
    EXPECT_EQ(Log(), "");
  }
  // Over TCP to the same server the dump is a real one.
  EXPECT_NE(ReadFile(Dumps() / (db + ".sql")).find("INSERT INTO `customer`"), std::string::npos);
}

TEST_F(DumpTest, NoMeansNoDumpAndNoToPackingStillEndsWithTheNotice) {
  prompter.QueueAnswer(false);
  DumpAndUpload(*console, silentNo);
  EXPECT_FALSE(fs::exists(Dumps()));
  EXPECT_EQ(prompter.shown().size(), 1u);

  prompter.clear();
  prompter.QueueAnswers({true, false});
  DumpAndUpload(*console, silentNo);
  EXPECT_TRUE(fs::exists(Dumps() / (db + ".sql")));
  EXPECT_FALSE(fs::exists(Dumps() / (db + ".7z")));
  EXPECT_EQ(prompter.messages(), std::vector<std::string>{"dump처리가 완료되었습니다."});
  EXPECT_EQ(Log(), "");
}

TEST_F(DumpTest, SilentAsksAndShowsNothing) {
  AddPriv(db, id, 0, ftpHost);
  bool silent = true;
  DumpAndUpload(*console, silent);
  EXPECT_TRUE(prompter.shown().empty());
  EXPECT_TRUE(Logged("* FTP전송 성공! - " + ftpHost + " / " + db + ".7z"));
}

TEST_F(DumpTest, UnknownAddressAndRefusedConnection) {
  // No row for the database: one line, no connection attempt.
  prompter.QueueAnswers({true, true});
  DumpAndUpload(*console, silentNo);
  EXPECT_TRUE(Logged("해당 DB는 존재하지 않습니다."));
  EXPECT_TRUE(Logged("* FTP전송 실패! - 주소를 알수 없음 / " + db + ".7z"));
  EXPECT_TRUE(Logged("(will) mysql> mysql -uroot -p " + db + " < " + db + ".sql"));
  const std::string notSent = "dump와 압축은 되었지만 FTP 전송에 실패했습니다. 작업 내용을 확인해 주세요.";
  EXPECT_EQ(prompter.messages(), std::vector<std::string>{notSent});

  // An address where nothing answers: only FTP_Open's message, no result line.
  std::string nowhere = ftpHost.substr(0, ftpHost.rfind('.')) + ".252";
  AddPriv(db, id, 1, nowhere);
  console->ClearLog();
  prompter.clear();
  prompter.QueueAnswers({true, true});
  DumpAndUpload(*console, silentNo);
  EXPECT_EQ(prompter.messages(), (std::vector<std::string>{"서버 접속 실패!\r\n오류번호: 7", notSent}));
  EXPECT_FALSE(Logged("* FTP전송 성공!"));
  EXPECT_FALSE(Logged("* FTP전송 실패!"));
  EXPECT_TRUE(Logged("(will) mysql> mysql -uroot -p " + db + " < " + db + ".sql"));
}

TEST_F(DumpTest, ThePasswordStaysOffTheCommandLine) {
  // A wrapper that notes what mysqldump was given, then runs the real one.
  fs::path wrapper = folder.path() / "dump-wrapper.sh";
  {
    std::ofstream w(wrapper);
    w << "#!/bin/sh\n"
         "printf '%s\\n' \"$@\" > \"" << (folder.path() / "args.txt").string() << "\"\n"
         "opt=${1#--defaults-extra-file=}\n"
         "stat -c %a \"$opt\" > \"" << (folder.path() / "mode.txt").string() << "\"\n"
         "echo \"$opt\" > \"" << (folder.path() / "optpath.txt").string() << "\"\n"
         "exec mysqldump \"$@\"\n";
  }
  fs::permissions(wrapper, fs::perms::owner_all);
  admin::DumpTools tools;
  tools.mysqldump = wrapper.string();
  prompter.QueueAnswers({true, false});
  DumpAndUpload(*console, silentNo, tools);
  std::string args = ReadFile(folder.path() / "args.txt");
  EXPECT_EQ(args.find(local.rootPassword), std::string::npos) << args;
  EXPECT_NE(args.find("-hlocalhost\n-uroot\n--\n" + db + "\n"), std::string::npos) << args;
  EXPECT_EQ(ReadFile(folder.path() / "mode.txt"), "600\n");
  // Gone once the dump has ended, and the dump itself worked.
  std::string opt = ReadFile(folder.path() / "optpath.txt");
  EXPECT_FALSE(fs::exists(opt.substr(0, opt.size() - 1)));
  EXPECT_NE(ReadFile(Dumps() / (db + ".sql")).find("INSERT INTO `customer`"), std::string::npos);
}

TEST_F(DumpTest, OptionsFileCarriesAwkwardPasswords) {
  // An account of this test whose password needs every escape the file knows.
  const std::string user = UniqueName("pw");
  const std::string password = "a\"b\\c'd #e;f";
  ownAccounts.push_back(user);
  test::CreateAccount(local, user, password, db);
  fs::path opt = folder.path() / "opt.cnf";
  test::WriteFile(opt, admin::MysqlOptionsText(password, local.socket));
  admin::ShellOptions o;
  o.stdoutFile = (folder.path() / "out.txt").string();
  EXPECT_EQ(ShellAndWait("mysql", 0,
                         {"--defaults-extra-file=" + opt.string(), "-hlocalhost", "-u" + user, "-N", "-e", "SELECT 42"}, o),
            0);
  EXPECT_EQ(ReadFile(o.stdoutFile), "42\n");
}

TEST_F(DumpTest, HostileDatabaseNamesRunNothingAndWriteNowhereElse) {
  const fs::path cwd = fs::current_path();
  for (std::string name : {std::string("x; touch pwned"), std::string("$(touch pwned2)"), std::string("--version"),
                           std::string("-rpwned3"), std::string("*")}) {
    SCOPED_TRACE(name);
    prompter.clear();
    console->ClearLog();
    AddDatabase(local, name);
    RootExec(local, "CREATE TABLE `" + name + "`.t (a INT)");
    Type(id, name, "localhost");
    prompter.QueueAnswers({true, true});
    DumpAndUpload(*console, silentNo);
    // The name reached mysqldump as the database's name, and nothing else happened.
    ASSERT_TRUE(fs::exists(Dumps() / (name + ".sql")));
    EXPECT_NE(ReadFile(Dumps() / (name + ".sql")).find("CREATE TABLE `t`"), std::string::npos);
  }
  for (const char* f : {"pwned", "pwned2", "pwned3"}) {
    EXPECT_FALSE(fs::exists(folder.path() / f));
    EXPECT_FALSE(fs::exists(cwd / f));
  }
  // "*" packed its own dump only, not every dump in the folder.
  admin::ShellOptions o;
  o.stdoutFile = (folder.path() / "list.txt").string();
  ShellAndWait(admin::SevenZipProgram(), 0, {"l", (Dumps() / "*.7z").string(), "-spd"}, o);
  std::string list = ReadFile(o.stdoutFile);
  EXPECT_NE(list.find("*.sql"), std::string::npos) << list;
  EXPECT_EQ(list.find("--version.sql"), std::string::npos) << list;

  // A name that would put the dump outside the dump folder is refused.
  for (std::string name : {std::string("../escape"), std::string(".."), std::string("a/b")}) {
    prompter.clear();
    Type(id, name, "localhost");
    prompter.QueueAnswer(true);
    DumpAndUpload(*console, silentNo);
    EXPECT_EQ(prompter.messages(), std::vector<std::string>{"DB명을 파일 이름으로 쓸 수 없습니다."});
  }
  EXPECT_FALSE(fs::exists(folder.path() / "escape.sql"));
}

namespace {

// A dump and an archive of an earlier, good run, as the technician keeps them.
struct EarlierRun {
  std::string sql = "-- an earlier good dump\nCREATE TABLE `customer` (id INT);\n";
  std::string archive = "an earlier archive";
};

void Plant(const fs::path& dumps, const std::string& db, const EarlierRun& e) {
  fs::create_directories(dumps);
  test::WriteFile(dumps / (db + ".sql"), e.sql);
  test::WriteFile(dumps / (db + ".7z"), e.archive);
}

std::string LogFileText(const Console& c) { return Cp949ToUtf8(ReadFile(c.LogFilePath())); }

fs::path Script(const fs::path& dir, const std::string& name, const std::string& body) {
  fs::path p = dir / name;
  test::WriteFile(p, "#!/bin/sh\n" + body);
  fs::permissions(p, fs::perms::owner_all);
  return p;
}

}  // namespace

TEST_F(DumpTest, AFailedDumpIsReportedInItsOwnWordsAndKeepsTheEarlierOne) {
  AddPriv(db, id, 1, ftpHost);
  const EarlierRun earlier;
  Plant(Dumps(), db, earlier);
  console->FormLogFilePath();
  // Another database than the one that exists: mysqldump says so and ends with 2.
  Type(id, db + "_gone", "localhost");
  Plant(Dumps(), db + "_gone", earlier);
  prompter.QueueAnswer(true);
  DumpAndUpload(*console, silentNo);
  auto m = prompter.messages();
  ASSERT_EQ(m.size(), 1u);  // no packing question, no completion notice
  EXPECT_EQ(m[0].rfind("dump에 실패했습니다. (mysqldump 종료코드 2)", 0), 0u) << m[0];
  EXPECT_NE(m[0].find("Unknown database"), std::string::npos) << m[0];
  EXPECT_EQ(ReadFile(Dumps() / (db + "_gone.sql")), earlier.sql);
  EXPECT_EQ(ReadFile(Dumps() / (db + "_gone.7z")), earlier.archive);
  EXPECT_FALSE(fs::exists(ftpRoot / (db + "_gone.7z")));
  EXPECT_TRUE(Logged("* dump 실패! - dump에 실패했습니다."));
  EXPECT_NE(LogFileText(*console).find("* dump 실패! - dump에 실패했습니다."), std::string::npos);
  // Nothing of the attempt is left beside the earlier files.
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(Dumps())) ++files;
  EXPECT_EQ(files, 4u);
}

TEST_F(DumpTest, ADumpWithoutTablesIsNotTakenForOne) {
  const std::string empty = UniqueName("dumpempty");
  AddDatabase(local, empty);
  const EarlierRun earlier;
  Plant(Dumps(), empty, earlier);
  Type(id, empty, "localhost");
  prompter.QueueAnswer(true);
  DumpAndUpload(*console, silentNo);
  ASSERT_EQ(prompter.messages().size(), 1u);
  EXPECT_EQ(prompter.messages()[0].rfind("dump 결과에 테이블이 없습니다.", 0), 0u) << prompter.messages()[0];
  EXPECT_EQ(ReadFile(Dumps() / (empty + ".sql")), earlier.sql);
}

TEST_F(DumpTest, AFailedArchiveIsReportedAndNothingIsUploaded) {
  AddPriv(db, id, 1, ftpHost);
  const EarlierRun earlier;
  Plant(Dumps(), db, earlier);
  admin::DumpTools tools;
  // Leaves a half-written archive, complains and fails, as 7z does on a full disk.
  tools.sevenZip = Script(folder.path(), "7z-fails",
                          "for a; do last=$prev; prev=$a; done\n"
                          "echo half > \"$last\"\necho 'E_FAIL: There is not enough space on the disk' >&2\nexit 2\n")
                       .string();
  prompter.QueueAnswers({true, true});
  DumpAndUpload(*console, silentNo, tools);
  auto m = prompter.messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].rfind("압축에 실패했습니다. 전송하지 않습니다. (7z 종료코드 2)", 0), 0u) << m[0];
  EXPECT_NE(m[0].find("not enough space"), std::string::npos) << m[0];
  // The new dump is complete and in place; the archive is still the earlier one.
  EXPECT_NE(ReadFile(Dumps() / (db + ".sql")).find("INSERT INTO `customer`"), std::string::npos);
  EXPECT_EQ(ReadFile(Dumps() / (db + ".7z")), earlier.archive);
  EXPECT_FALSE(fs::exists(Dumps() / (db + ".7z.part")));
  EXPECT_FALSE(fs::exists(ftpRoot / (db + ".7z")));
  EXPECT_FALSE(Logged("FTP전송"));
}

TEST_F(DumpTest, DumpsAreTheOwnersAlone) {
  fs::create_directories(Dumps());
  fs::permissions(Dumps(), fs::perms(0755));
  prompter.QueueAnswers({true, true});
  AddPriv(db, id, 1, ftpHost);
  DumpAndUpload(*console, silentNo);
  EXPECT_EQ(fs::status(Dumps()).permissions() & fs::perms::mask, fs::perms(0700));
  EXPECT_EQ(fs::status(Dumps() / (db + ".sql")).permissions() & fs::perms::mask, fs::perms(0600));
  EXPECT_EQ(fs::status(Dumps() / (db + ".7z")).permissions() & fs::perms::mask, fs::perms(0600));
}

TEST_F(DumpTest, AStopEndsTheRunningDumpAndNothingIsPackedOrSent) {
  AddPriv(db, id, 1, ftpHost);
  const EarlierRun earlier;
  Plant(Dumps(), db, earlier);
  // A dump program that would take half a minute.
  const fs::path slow = folder.path() / "slow-dump";
  {
    std::ofstream(slow) << "#!/bin/sh\nexec sleep 30\n";
  }
  fs::permissions(slow, fs::perms::owner_exec, fs::perm_options::add);
  admin::DumpTools tools;
  tools.mysqldump = slow.string();
  const std::string caption = console->Caption();
  prompter.QueueAnswer(true);
  std::thread stop([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    console->cancel = true;
  });
  const auto t0 = std::chrono::steady_clock::now();
  DumpAndUpload(*console, silentNo, tools);
  stop.join();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20)) << "the dump program was not ended";
  EXPECT_TRUE(Logged("* dump 중지: " + db + ".sql")) << Log();
  EXPECT_FALSE(Logged("FTP전송")) << Log();
  // What was being made is gone; the earlier dump and archive stay.
  EXPECT_EQ(ReadFile(Dumps() / (db + ".sql")), earlier.sql);
  EXPECT_EQ(ReadFile(Dumps() / (db + ".7z")), earlier.archive);
  EXPECT_FALSE(fs::exists(Dumps() / (db + ".sql.part")));
  EXPECT_FALSE(fs::exists(ftpRoot / (db + ".7z")));
  EXPECT_EQ(prompter.messages().back(), "dump를 중지했습니다.");
  EXPECT_EQ(prompter.pendingAnswers(), 0u) << "no question about packing after a stop";
  EXPECT_EQ(console->Caption(), caption) << "the caption is put back";
}
