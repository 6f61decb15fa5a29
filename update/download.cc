#include "update/download.h"

#include <curl/curl.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unistd.h>

namespace brenvo::update {
namespace {

// The version file is read with one 20-byte read: whatever follows is never
// looked at.
constexpr size_t kVersionBytes = 20;
// No server answers in less than this means it is not there; start-up must
// not hang on it. A download that stalls is given up after a minute.
constexpr long kConnectTimeoutSeconds = 10;
constexpr long kReadTimeoutSeconds = 30;
constexpr long kStallSeconds = 60;

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using Curl = std::unique_ptr<CURL, CurlDeleter>;
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

// A handle set up the way both operations want it: fresh from the server,
// redirects followed, HTTP errors are failures (an error page is not the file).
Curl Open(const std::string& url, Slist& headers) {
  Curl c(curl_easy_init());
  if (!c) return c;
  headers.reset(curl_slist_append(nullptr, "Cache-Control: no-cache"));
  if (headers) headers.reset(curl_slist_append(headers.release(), "Pragma: no-cache"));
  const std::string escaped = EscapeUrl(url);
  curl_easy_setopt(c.get(), CURLOPT_URL, escaped.c_str());
  curl_easy_setopt(c.get(), CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c.get(), CURLOPT_USERAGENT, "VB OpenUrl");
  curl_easy_setopt(c.get(), CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c.get(), CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c.get(), CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(c.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c.get(), CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  return c;
}

size_t TakeFirstBytes(char* data, size_t size, size_t n, void* user) {
  auto* out = static_cast<std::string*>(user);
  size_t len = size * n;
  size_t room = kVersionBytes - out->size();
  out->append(data, std::min(len, room));
  // Returning less than was offered ends the transfer: the rest is not wanted.
  return out->size() >= kVersionBytes ? 0 : len;
}

size_t WriteToFile(char* data, size_t size, size_t n, void* user) {
  return std::fwrite(data, size, n, static_cast<std::FILE*>(user)) * size;
}

}  // namespace

std::string EscapeUrl(const std::string& url) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : url) {
    if (c > 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string OpenURL(const std::string& url) {
  Slist headers;
  Curl c = Open(url, headers);
  if (!c) return {};
  std::string body;
  curl_easy_setopt(c.get(), CURLOPT_WRITEFUNCTION, TakeFirstBytes);
  curl_easy_setopt(c.get(), CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(c.get(), CURLOPT_TIMEOUT, kReadTimeoutSeconds);
  CURLcode rc = curl_easy_perform(c.get());
  // Stopping after 20 bytes shows up as a write error; the bytes are good.
  if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && body.size() >= kVersionBytes)) return body;
  return {};
}

bool DownloadFile(const std::string& url, const std::string& localPath) {
  namespace fs = std::filesystem;
  const std::string part = localPath + ".part" + std::to_string(::getpid());
  std::FILE* f = std::fopen(part.c_str(), "wb");
  if (!f) return false;
  CURLcode rc = CURLE_FAILED_INIT;
  {
    Slist headers;
    Curl c = Open(url, headers);
    if (c) {
      curl_easy_setopt(c.get(), CURLOPT_WRITEFUNCTION, WriteToFile);
      curl_easy_setopt(c.get(), CURLOPT_WRITEDATA, f);
      curl_easy_setopt(c.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
      curl_easy_setopt(c.get(), CURLOPT_LOW_SPEED_TIME, kStallSeconds);
      rc = curl_easy_perform(c.get());
    }
  }
  bool written = std::fflush(f) == 0;
  written = std::fclose(f) == 0 && written;
  std::error_code ec;
  if (rc != CURLE_OK || !written) {
    fs::remove(part, ec);
    return false;
  }
  fs::rename(part, localPath, ec);
  if (ec) {
    fs::remove(part, ec);
    return false;
  }
  return true;
}

}  // namespace brenvo::update
