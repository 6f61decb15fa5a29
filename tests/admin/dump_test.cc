// Dump, compress and upload with the real mysqldump, 7z and FTP server.
#include "admin/dump.h"

#include <filesystem>
#include <fstream>

#include "admin/wait_proc.h"
#include "admin_fixture.h"

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
    EXPECT_EQ(prompter.messages(), std::vector<std::string>{"dump처리가 완료되었습니다."});
    EXPECT_TRUE(fs::exists(Dumps() / (db + ".sql")));
    EXPECT_FALSE(fs::exists(Dumps() / (db + ".7z")));
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
  EXPECT_EQ(prompter.messages(), std::vector<std::string>{"dump처리가 완료되었습니다."});

  // An address where nothing answers: only FTP_Open's message, no result line.
  std::string nowhere = ftpHost.substr(0, ftpHost.rfind('.')) + ".252";
  AddPriv(db, id, 1, nowhere);
  console->ClearLog();
  prompter.clear();
  prompter.QueueAnswers({true, true});
  DumpAndUpload(*console, silentNo);
  EXPECT_EQ(prompter.messages(), (std::vector<std::string>{"서버 접속 실패!\r\n오류번호: 7", "dump처리가 완료되었습니다."}));
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
    Type(id, name, "localhost");
    prompter.QueueAnswers({true, true});
    DumpAndUpload(*console, silentNo);
    EXPECT_EQ(prompter.messages().back(), "dump처리가 완료되었습니다.");
    // The name reached mysqldump as a database name: no such database, so
    // a dump without a table, and nothing else happened.
    ASSERT_TRUE(fs::exists(Dumps() / (name + ".sql")));
    EXPECT_EQ(ReadFile(Dumps() / (name + ".sql")).find("CREATE TABLE"), std::string::npos);
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
