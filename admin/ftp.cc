#include "admin/ftp.h"

#include <curl/curl.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "screen/console.h"
#include "util/error.h"
#include "util/paths.h"
#include "util/trap.h"

namespace brenvo::admin {

namespace {

constexpr const char* kOwner = "Module modFTP";

void GlobalInit() {
  static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
  if (!done) throw BrenvoError(CURLE_FAILED_INIT, "libcurl could not be initialised");
}

// A server name goes into the URL as it is; anything that would make it
// more than a host (a path, credentials, a second URL) is refused.
bool PlainHost(const std::string& host) {
  if (host.empty()) return false;
  for (unsigned char c : host)
    if (c <= ' ' || c == '/' || c == '\\' || c == '@' || c == '?' || c == '#' || c == '%' || c == 0x7f) return false;
  return true;
}

std::string Escape(CURL* h, const std::string& part) {
  char* e = curl_easy_escape(h, part.data(), static_cast<int>(part.size()));
  if (!e) throw BrenvoError(7, "Out of memory");
  std::string out(e);
  curl_free(e);
  return out;
}

// The file is named by its full path on the server: a path starting with
// "/" is the server's root ("%2F" keeps that slash through the URL), any
// other is below the login folder. One STOR with that path, no CWD steps,
// as the old client asked for the path in one call.
std::string PathInUrl(CURL* h, const std::string& remotePath) {
  std::string out;
  size_t start = 0;
  if (!remotePath.empty() && remotePath[0] == '/') {
    out = "%2F";
    start = 1;
  }
  while (true) {
    size_t slash = remotePath.find('/', start);
    out += Escape(h, remotePath.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    out += '/';
    start = slash + 1;
  }
  return out;
}

std::string ErrorNumberLine(long code) { return "오류번호: " + std::to_string(code); }

// What the read callback feeds: whole blocks of 1024 bytes, then the rest
// in one piece. curl's buffer is far larger than a block, so each call
// hands over one piece; should it ever offer less, a piece is split and
// still counted once.
struct Feed {
  std::ifstream* in = nullptr;
  int64_t blocks = 0;
  int64_t rest = 0;
  ProgressDisplay* progress = nullptr;
  std::vector<char> piece;
  size_t pieceOffset = 0;
  int writes = 0;
  bool started = false;
  bool shortRead = false;
};

void AdvanceProgress(ProgressDisplay* p) {
  if (!p) return;
  // Past the cap the bar starts again from 0.
  if (p->Max() > p->Value())
    p->SetValue(p->Value() + 1);
  else
    p->SetValue(0);
}

size_t ReadBlock(char* buffer, size_t size, size_t nitems, void* user) {
  auto& f = *static_cast<Feed*>(user);
  f.started = true;
  const size_t room = size * nitems;
  if (f.pieceOffset >= f.piece.size()) {
    bool whole = f.blocks > 0;
    int64_t want = whole ? kFtpBlockSize : f.rest;
    if (want == 0) return 0;
    f.piece.assign(static_cast<size_t>(want), 0);
    f.pieceOffset = 0;
    f.in->read(f.piece.data(), want);
    if (f.in->gcount() != want) {
      f.shortRead = true;
      return CURL_READFUNC_ABORT;
    }
    if (whole)
      --f.blocks;
    else
      f.rest = 0;
  }
  size_t n = std::min(room, f.piece.size() - f.pieceOffset);
  std::copy_n(f.piece.data() + f.pieceOffset, n, buffer);
  f.pieceOffset += n;
  if (f.pieceOffset == f.piece.size()) {
    ++f.writes;
    // Only whole blocks move the bar; the rest is not one of them.
    if (f.piece.size() == static_cast<size_t>(kFtpBlockSize)) AdvanceProgress(f.progress);
  }
  return n;
}

// Called by curl about once a second, also while the server is silent.
int StopWhenCancelled(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto& f = *static_cast<Feed*>(user);
  return f.progress && f.progress->Cancelled() ? 1 : 0;
}

}  // namespace

struct FtpClient::Connection {
  std::string baseUrl;  // "ftp://server:port/"
};

int ConsoleProgress::Max() const { return console_.ProgressMax(bar_); }
void ConsoleProgress::SetMax(int max) { console_.SetProgressMax(bar_, max); }
int ConsoleProgress::Value() const { return console_.ProgressValue(bar_); }
bool ConsoleProgress::Cancelled() const { return console_.CancelRequested(); }
void ConsoleProgress::SetValue(int value) {
  console_.SetProgressValue(bar_, value);
  console_.Refresh();
}

FtpClient::FtpClient(Prompter& prompter) : prompter_(prompter) {}

FtpClient::~FtpClient() { FTP_Close(); }

bool FtpClient::FTP_Open(const std::string& server, const std::string& user, const std::string& password,
                         int16_t port, int16_t passive) {
  bool ok = false;
  Trap(prompter_, "FTP_Open", kOwner, [&] {
    // The old client overwrote the handles of an earlier open and left them
    // open; this one closes them first.
    FTP_Close();
    GlobalInit();

    session_ = curl_easy_init();
    if (!session_) {
      prompter_.Message("인터넷 세션 열기 실패!\r\n" + ErrorNumberLine(CURLE_FAILED_INIT), {}, Icon::Exclamation);
      return;
    }
    curl_easy_setopt(session_, CURLOPT_USERAGENT, kFtpAgent);
    curl_easy_setopt(session_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(session_, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(session_, CURLOPT_CONNECTTIMEOUT, 30L);
    // A server that stops answering in the middle must not hold the window
    // for ever: two minutes without a byte moving end the transfer.
    curl_easy_setopt(session_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(session_, CURLOPT_LOW_SPEED_TIME, 120L);
    curl_easy_setopt(session_, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(session_, CURLOPT_PASSWORD, password.c_str());
    if (passive == 1) {
      curl_easy_setopt(session_, CURLOPT_FTPPORT, nullptr);
    } else {
      // Active: the server connects back to the address our control
      // connection comes from.
      curl_easy_setopt(session_, CURLOPT_FTPPORT, "-");
    }
    curl_easy_setopt(session_, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));

    CURLcode rc = CURLE_URL_MALFORMAT;
    std::string base;
    if (PlainHost(server)) {
      bool v6 = server.find(':') != std::string::npos;
      base = "ftp://" + (v6 ? "[" + server + "]" : server) + ":" + std::to_string(static_cast<uint16_t>(port)) + "/";
      // The login happens here, as it did when the connection was opened:
      // a refused password shows now, not at the first upload.
      curl_easy_setopt(session_, CURLOPT_URL, base.c_str());
      curl_easy_setopt(session_, CURLOPT_NOBODY, 1L);
      rc = curl_easy_perform(session_);
    }
    if (rc != CURLE_OK) {
      prompter_.Message("서버 접속 실패!\r\n" + ErrorNumberLine(rc), {}, Icon::Exclamation);
      curl_easy_cleanup(session_);
      session_ = nullptr;
      return;
    }
    connection_ = std::make_unique<Connection>(Connection{base});
    ok = true;
  });
  return ok;
}

bool FtpClient::FTP_UPLoad(const std::string& localFile, const std::string& remoteFolder, std::string remoteName,
                           ProgressDisplay* progress) {
  bool ok = false;
  writes_ = 0;
  Trap(prompter_, "FTP_UPLoad", kOwner, [&] {
    if (remoteName.empty()) {
      size_t sep = localFile.rfind(kDirSep);
      if (sep == std::string::npos) {
        prompter_.Message("파일명을 알수 없습니다.", "FTP Upload");
        return;
      }
      remoteName = localFile.substr(sep + 1);
    }
    ok = Upload(localFile, remoteFolder + "/" + remoteName, progress);
  });
  return ok;
}

bool FtpClient::Upload(const std::string& localFile, const std::string& remotePath, ProgressDisplay* progress) {
  // The local file first: the old client opened the remote file before and
  // left an empty one on the server when the local file was missing.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(localFile, ec)) throw BrenvoError(53, "File not found");
  std::ifstream in(localFile, std::ios::binary);
  if (!in) throw BrenvoError(75, "Path/File access error");
  const auto size = static_cast<int64_t>(std::filesystem::file_size(localFile));

  if (!session_ || !connection_) {
    prompter_.Message("FTP서버에 파일저장 준비중 오류가 발생했습니다.\r\n존재하는 경로인지 확인바랍니다.\r\n\r\n" +
                          ErrorNumberLine(CURLE_FAILED_INIT),
                      {}, Icon::Exclamation);
    return false;
  }

  Feed feed;
  feed.in = &in;
  feed.blocks = size / kFtpBlockSize;
  feed.rest = size % kFtpBlockSize;
  feed.progress = progress;
  if (progress) {
    if (feed.blocks > kFtpProgressCap)
      progress->SetMax(kFtpProgressCap);
    else if (feed.blocks > 0)
      progress->SetMax(static_cast<int>(feed.blocks));
    progress->SetValue(0);
  }

  std::string url = connection_->baseUrl + PathInUrl(session_, remotePath);
  curl_easy_setopt(session_, CURLOPT_URL, url.c_str());
  curl_easy_setopt(session_, CURLOPT_NOBODY, 0L);
  curl_easy_setopt(session_, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(session_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
  curl_easy_setopt(session_, CURLOPT_READFUNCTION, &ReadBlock);
  curl_easy_setopt(session_, CURLOPT_READDATA, &feed);
  curl_easy_setopt(session_, CURLOPT_XFERINFOFUNCTION, &StopWhenCancelled);
  curl_easy_setopt(session_, CURLOPT_XFERINFODATA, &feed);
  curl_easy_setopt(session_, CURLOPT_NOPROGRESS, 0L);
  CURLcode rc = curl_easy_perform(session_);
  // The handle outlives this call; nothing may point at this frame after it.
  curl_easy_setopt(session_, CURLOPT_UPLOAD, 0L);
  curl_easy_setopt(session_, CURLOPT_READFUNCTION, nullptr);
  curl_easy_setopt(session_, CURLOPT_READDATA, nullptr);
  curl_easy_setopt(session_, CURLOPT_NOPROGRESS, 1L);
  curl_easy_setopt(session_, CURLOPT_XFERINFOFUNCTION, nullptr);
  curl_easy_setopt(session_, CURLOPT_XFERINFODATA, nullptr);
  writes_ = feed.writes;

  if (rc == CURLE_OK) return true;
  if (rc == CURLE_ABORTED_BY_CALLBACK && progress && progress->Cancelled()) return false;
  if (!feed.started && !feed.shortRead) {
    // Refused before a byte could go: the server would not take the file there.
    prompter_.Message("FTP서버에 파일저장 준비중 오류가 발생했습니다.\r\n존재하는 경로인지 확인바랍니다.\r\n\r\n" +
                          ErrorNumberLine(rc),
                      {}, Icon::Exclamation);
    return false;
  }
  prompter_.Message("FTP파일 쓰기에 실패했습니다.", {}, Icon::Exclamation);
  return false;
}

void FtpClient::FTP_Close() {
  connection_.reset();
  if (session_) {
    curl_easy_cleanup(session_);
    session_ = nullptr;
  }
}

}  // namespace brenvo::admin
