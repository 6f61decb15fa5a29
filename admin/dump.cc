#include "admin/dump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "admin/cs_prepare.h"
#include "admin/ftp.h"
#include "admin/wait_proc.h"
#include "admin/window_db.h"
#include "util/paths.h"
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
  // -spd: the names are file names, not wildcards, whatever the database is called.
  return {"a", "-spd", archive, sqlFile};
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
  std::error_code ec;
  if (!std::filesystem::is_directory(dumpFolder, ec)) std::filesystem::create_directories(dumpFolder, ec);

  std::string db = console.Text(Control::Text1_1);
  const std::string rootPwd = RootPassword(console);
  console.SetCaption(caption + " - [SETP 1/4] db dumping...");
  console.SetStatus(db + " dump 중...");
  console.Refresh();

  db = console.Text(Control::Text1_1);
  const std::string host = console.Text(Control::cmbHost);
  const std::string sqlFile = JoinPath(dumpFolder, db + ".sql");
  {
    OptionsFile options(rootPwd);
    // Without the options file the password would have to go on the
    // command line, where anyone on the machine can read it: no dump then.
    if (!options.path().empty()) {
      ShellOptions o;
      o.directory = app;
      o.stdoutFile = sqlFile;
      o.cancelRequested = [&console] { return console.CancelRequested(); };
      ShellAndWait(tools.mysqldump, 0, MysqldumpArguments(options.path(), db, host), o);
    }
  }

  // A dump stopped halfway is no dump: nothing is packed or sent, and the
  // end says it stopped.
  if (console.CancelRequested()) {
    console.AppendLog("* dump 중지: " + db + ".sql 파일은 완전하지 않습니다.", 0);
    console.SetCaption(caption);
    if (!silent) p.Message("dump를 중지했습니다.");
    return;
  }

  if (host == "localhost" && (silent || p.Ask("sql파일압축 및 ftp전송을 할까요?", {}, Icon::None, true))) {
    const std::string archive = JoinPath(dumpFolder, db + ".7z");
    console.SetCaption(caption + " - [SETP 3/4] 7zip adding...( 7z a archive1.zip(또는 archive1.7z) c:\\temp\\");
    console.SetStatus(db + ".7z 압축 중...");
    console.Refresh();
    ShellOptions o;
    o.directory = app;
    o.cancelRequested = [&console] { return console.CancelRequested(); };
    ShellAndWait(tools.sevenZip, 0, SevenZipArguments(archive, sqlFile), o);
    if (console.CancelRequested()) {
      console.AppendLog("* 압축 중지: " + db + ".7z 파일은 완전하지 않으며 전송하지 않았습니다.", 0);
      console.SetCaption(caption);
      if (!silent) p.Message("dump를 중지했습니다.");
      return;
    }

    console.SetCaption(caption + " - [SETP 3/4] FTP Uploading...");
    console.SetStatus(db + ".7z FTP 전송 중...");
    console.Refresh();
    const std::string address = GetIPFromUserID(console, true);
    if (address.empty()) {
      console.AppendLog("* FTP전송 실패! - 주소를 알수 없음 / " + db + ".7z", 0);
    } else {
      FtpClient ftp(p);
      if (ftp.FTP_Open(address, kFtpUser, kFtpPassword, kFtpPort, 0)) {
        ConsoleProgress bar(console, 0);
        if (ftp.FTP_UPLoad(archive, "", "", &bar))
          console.AppendLog("* FTP전송 성공! - " + address + " / " + db + ".7z", 0);
        else if (console.CancelRequested())
          console.AppendLog("* FTP전송 중지 - " + address + " / " + db + ".7z (서버의 파일은 완전하지 않습니다)", 0);
        else
          console.AppendLog("* FTP전송 실패! - " + address + " / " + db + ".7z", 0);
        ftp.FTP_Close();
      }
    }
    db = console.Text(Control::Text1_1);
    console.AppendLog("(will) mysql> mysql -uroot -p " + db + " < " + db + ".sql", 0);
  }

  console.SetCaption(caption);
  if (!silent) p.Message(console.CancelRequested() ? "dump를 중지했습니다." : "dump처리가 완료되었습니다.");
}

}  // namespace

void btnDump_Click(Console& console) {
  bool silent = false;
  DumpAndUpload(console, silent);
}

}  // namespace brenvo::admin
