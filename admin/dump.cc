#include "admin/dump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "admin/cs_prepare.h"
#include "admin/ftp.h"
#include "admin/wait_proc.h"
#include "admin/window_db.h"
#include "util/korean.h"
#include "util/paths.h"
#include "util/text.h"
#include "util/trap.h"

namespace brenvo::admin {

namespace {

// The options file lives as long as the dump runs, then goes.
class OptionsFile {
 public:
  explicit OptionsFile(const std::string& password) {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/brenvo-dump-XXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());  // created 0600
    if (fd < 0) return;
    // The system's option files may name another socket for "localhost";
    // this file is read after them, so the program's own socket wins.
    const char* sock = std::getenv("MYSQL_UNIX_PORT");
    const std::string text = MysqlOptionsText(password, sock ? sock : "");
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    path_ = name.data();
    if (!ok) {
      ::unlink(path_.c_str());
      path_.clear();
    }
  }
  ~OptionsFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  OptionsFile(const OptionsFile&) = delete;
  OptionsFile& operator=(const OptionsFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

namespace {

std::string OptionValue(const std::string& s) {
  std::string v = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') v += '\\';
    if (c == '\n') {
      v += "\\n";
      continue;
    }
    v += c;
  }
  return v + "\"";
}

}  // namespace

std::string MysqlOptionsText(const std::string& password, const std::string& socket) {
  std::string text = "[client]\npassword=" + OptionValue(password) + "\n";
  if (!socket.empty()) text += "socket=" + OptionValue(socket) + "\n";
  return text;
}

std::string SevenZipProgram() {
  std::string found = FindProgram({"7z", "7zz"});
  // Neither installed: the start fails and says so under the usual name.
  return found.empty() ? "7z" : found;
}

std::vector<std::string> MysqldumpArguments(const std::string& optionsFile, const std::string& db,
                                            const std::string& host) {
  // --defaults-extra-file is only read as the first argument.
  return {"--defaults-extra-file=" + optionsFile, "-h" + host, "-uroot", "--", db};
}

std::vector<std::string> SevenZipArguments(const std::string& archive, const std::string& sqlFile) {
  // -spd: the names are file names, not wildcards, whatever the database is
  // called. -t7z: the archive is written under a temporary name first, whose
  // ending would not tell 7z the format.
  return {"a", "-t7z", "-spd", archive, sqlFile};
}

bool UsableAsFileName(const std::string& db) {
  if (db == "." || db == "..") return false;
  return db.find('/') == std::string::npos && db.find('\0') == std::string::npos;
}

namespace {

void Run(Console& console, bool& silent, const DumpTools& tools, std::string& caption, bool& captionTaken);

}  // namespace

void DumpAndUpload(Console& console, bool& silent, const DumpTools& tools) {
  // Whatever goes wrong in between, the window gets its caption back.
  std::string caption;
  bool captionTaken = false;
  if (!Trap(console.prompter(), "DumpAndUpload", "Form FrmMain",
            [&] { Run(console, silent, tools, caption, captionTaken); }) &&
      captionTaken)
    console.SetCaption(caption);
}

namespace {

// The dump's lines go to the pane and to the work-log file alike.
void Note(Console& console, const std::string& line) {
  console.AppendLog(line, 0);
  console.AppendLogFile(line);
}

std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// The program's own words: its error output, else the end of its standard
// output (7z reports some failures there), at most the last 20 lines.
std::string ProgramWords(const std::string& errFile, const std::string& outFile) {
  std::string text = TrimWhitespace(ReadText(errFile));
  if (text.empty() && !outFile.empty()) text = TrimWhitespace(ReadText(outFile));
  size_t cut = text.size();
  for (int lines = 0; lines < 20 && cut != std::string::npos && cut > 0; ++lines) cut = text.rfind('\n', cut - 1);
  if (cut != std::string::npos && cut > 0) text = "..." + text.substr(cut);
  return text;
}

std::string Outcome(const std::string& program, const std::optional<int>& rc) {
  if (!rc) return program + "을(를) 실행하지 못했거나 중간에 끝났습니다.";
  return program + " 종료코드 " + std::to_string(*rc);
}

// A dump that names no table holds nothing a restore could rebuild (an
// unknown database leaves mysqldump's header only).
bool DumpHoldsTables(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  for (std::string line; std::getline(f, line);)
    if (line.rfind("CREATE TABLE", 0) == 0) return true;
  return false;
}

void Remove(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

// Replaces to with from in one step, narrowed to its owner.
bool Promote(const std::string& from, const std::string& to) {
  ::chmod(from.c_str(), 0600);
  return ::rename(from.c_str(), to.c_str()) == 0;
}

void Run(Console& console, bool& silent, const DumpTools& tools, std::string& caption, bool& captionTaken) {
  Prompter& p = console.prompter();
  if (!silent && !p.Ask("정말 dump를 하시겠습니까?\r\n\r\n2단계의 CS접속정보로 dump처리합니다.(id,db명,host)", {}, Icon::None,
                        true))
    return;
  if (!UsableAsFileName(console.Text(Control::Text1_1))) {
    p.Message("DB명을 파일 이름으로 쓸 수 없습니다.");
    return;
  }

  caption = console.Caption();
  captionTaken = true;
  const std::string app = console.ProgramFolder();
  const std::string dumpFolder = JoinPath(app, "dumps");
  // Dumps hold customers' whole databases: the folder is its owner's alone.
  std::error_code ec;
  if (!std::filesystem::is_directory(dumpFolder, ec)) std::filesystem::create_directories(dumpFolder, ec);
  ::chmod(dumpFolder.c_str(), 0700);

  // A failure ends the chore with its own message instead of the notice.
  auto fail = [&](const std::string& message) {
    Note(console, "* dump 실패! - " + message);
    console.SetCaption(caption);
    if (!silent) p.Message(message);
  };
  // A stop between or during the programs: what was being made is dropped,
  // the earlier files stay.
  auto stopped = [&](const std::string& file) {
    if (!console.CancelRequested()) return false;
    Note(console, "* dump 중지: " + file + " - 만들던 파일은 지우고 이전 파일은 그대로 둡니다.");
    console.SetCaption(caption);
    if (!silent) p.Message("dump를 중지했습니다.");
    return true;
  };
  ShellOptions o;
  o.directory = app;
  o.cancelRequested = [&console] { return console.CancelRequested(); };

  std::string db = console.Text(Control::Text1_1);
  const std::string rootPwd = RootPassword(console);
  console.SetCaption(caption + " - [SETP 1/4] db dumping...");
  console.SetStatus(db + " dump 중...");
  console.Refresh();

  db = console.Text(Control::Text1_1);
  const std::string host = console.Text(Control::cmbHost);
  const std::string sqlFile = JoinPath(dumpFolder, db + ".sql");
  // The new dump is written beside the old one and replaces it only once it
  // is complete; until then the previous dump and archive stay as they were.
  const std::string sqlPart = sqlFile + ".part", errFile = JoinPath(dumpFolder, db + ".err");
  console.AppendLogFile("* dump 시작 - " + db + " / " + host);
  std::optional<int> rc;
  {
    OptionsFile options(rootPwd);
    // Without the options file the password would have to go on the
    // command line, where anyone on the machine can read it: no dump then.
    if (options.path().empty()) {
      fail("dump에 실패했습니다. 암호 파일을 만들 수 없습니다.");
      return;
    }
    ShellOptions d = o;
    d.stdoutFile = sqlPart;
    d.stderrFile = errFile;
    rc = ShellAndWait(tools.mysqldump, 0, MysqldumpArguments(options.path(), db, host), d);
  }
  const std::string dumpWords = ProgramWords(errFile, "");
  Remove(errFile);
  if (stopped(db + ".sql")) {
    Remove(sqlPart);
    return;
  }
  if (rc != 0) {
    Remove(sqlPart);
    fail("dump에 실패했습니다. (" + Outcome("mysqldump", rc) + ")" + (dumpWords.empty() ? "" : "\r\n\r\n" + dumpWords));
    return;
  }
  if (!DumpHoldsTables(sqlPart)) {
    Remove(sqlPart);
    fail("dump 결과에 테이블이 없습니다. 이전 dump 파일은 그대로 있습니다." +
         (dumpWords.empty() ? std::string() : "\r\n\r\n" + dumpWords));
    return;
  }
  if (!Promote(sqlPart, sqlFile)) {
    Remove(sqlPart);
    fail("dump 파일을 저장하지 못했습니다: " + sqlFile);
    return;
  }
  std::uintmax_t size = std::filesystem::file_size(sqlFile, ec);
  console.AppendLogFile("* dump 성공 - " + sqlFile + " (" + FormatThousands(static_cast<long long>(ec ? 0 : size)) + " bytes)");

  if (host == "localhost" && (silent || p.Ask("sql파일압축 및 ftp전송을 할까요?", {}, Icon::None, true))) {
    const std::string archive = JoinPath(dumpFolder, db + ".7z");
    const std::string archivePart = archive + ".part", outFile = JoinPath(dumpFolder, db + ".7z.out");
    console.SetCaption(caption + " - [SETP 3/4] 7zip adding...( 7z a archive1.zip(또는 archive1.7z) c:\\temp\\");
    console.SetStatus(db + ".7z 압축 중...");
    console.Refresh();
    // 7z adds to an archive that exists: a part left by an earlier run goes first.
    Remove(archivePart);
    ShellOptions z = o;
    z.stdoutFile = outFile;
    z.stderrFile = errFile;
    rc = ShellAndWait(tools.sevenZip, 0, SevenZipArguments(archivePart, sqlFile), z);
    const std::string zipWords = ProgramWords(errFile, outFile);
    Remove(errFile);
    Remove(outFile);
    if (stopped(db + ".7z")) {
      Remove(archivePart);
      return;
    }
    if (rc != 0 || !Promote(archivePart, archive)) {
      Remove(archivePart);
      fail("압축에 실패했습니다. 전송하지 않습니다. (" + Outcome("7z", rc) + ")" +
           (zipWords.empty() ? "" : "\r\n\r\n" + zipWords));
      return;
    }

    console.SetCaption(caption + " - [SETP 3/4] FTP Uploading...");
    console.SetStatus(db + ".7z FTP 전송 중...");
    console.Refresh();
    bool uploaded = false;
    const std::string address = GetIPFromUserID(console, true);
    if (address.empty()) {
      Note(console, "* FTP전송 실패! - 주소를 알수 없음 / " + db + ".7z");
    } else {
      FtpClient ftp(p);
      if (ftp.FTP_Open(address, kFtpUser, kFtpPassword, kFtpPort, 0)) {
        ConsoleProgress bar(console, 0);
        uploaded = ftp.FTP_UPLoad(archive, "", "", &bar);
        if (uploaded)
          Note(console, "* FTP전송 성공! - " + address + " / " + db + ".7z");
        else if (console.CancelRequested())
          Note(console, "* FTP전송 중지 - " + address + " / " + db + ".7z (서버의 파일은 완전하지 않습니다)");
        else
          Note(console, "* FTP전송 실패! - " + address + " / " + db + ".7z");
        ftp.FTP_Close();
      } else {
        // FTP_Open has shown why; the pane keeps its old silence here.
        console.AppendLogFile("* FTP 서버 접속 실패 - " + address + " / " + db + ".7z");
      }
    }
    db = console.Text(Control::Text1_1);
    Note(console, "(will) mysql> mysql -uroot -p " + db + " < " + db + ".sql");
    if (!uploaded) {
      console.SetCaption(caption);
      if (!silent)
        p.Message(console.CancelRequested() ? "dump를 중지했습니다."
                                            : "dump와 압축은 되었지만 FTP 전송에 실패했습니다. 작업 내용을 확인해 주세요.");
      return;
    }
  }

  console.SetCaption(caption);
  console.SetStatus("");
  if (!silent) p.Message("dump처리가 완료되었습니다.");
}

}  // namespace

void btnDump_Click(Console& console) {
  bool silent = false;
  DumpAndUpload(console, silent);
}

}  // namespace brenvo::admin
