#include "db/odbc/myodbc_dsn.h"

#include <odbcinst.h>

#include <filesystem>
#include <fstream>

#include "util/text.h"

// unixODBC's own answer to where the system odbc.ini is ($ODBCSYSINI or its
// configured folder). Exported by libodbcinst; the header that declares them
// is not usable from outside the driver manager's own build.
extern "C" char* odbcinst_system_file_path(char* buffer);

namespace brenvo::odbc {
namespace {

std::string WithoutLineBreaks(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

// The driver manager writes into an existing system odbc.ini only.
void EnsureFileExists(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) return;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::ofstream f(path, std::ios::app);
}

}  // namespace

const std::vector<std::string>& MyODBCDllCandidates() {
#ifdef _WIN32
  static const std::vector<std::string> c = {
      "C:\\WINDOWS\\system32\\myodbc3.dll",
      "C:\\Program Files\\MySQL\\Connector ODBC 3.51\\myodbc3.dll",
      "C:\\Program Files (x86)\\MySQL\\Connector ODBC 3.51\\myodbc3.dll",
  };
#else
  static const std::vector<std::string> c = {
      "/usr/lib/x86_64-linux-gnu/odbc/libmaodbc.so",
      "/usr/lib/aarch64-linux-gnu/odbc/libmaodbc.so",
      "/usr/lib64/libmaodbc.so",
      "/usr/local/lib/mariadb/libmaodbc.so",
      "/usr/local/lib/libmaodbc.so",
  };
#endif
  return c;
}

std::string GetMyODBCDllPath(std::string& cache, const std::vector<std::string>& candidates) {
  if (!cache.empty()) return cache;
  for (const auto& path : candidates) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) {
      cache = path;
      break;
    }
  }
  return cache;
}

std::string SystemOdbcIniPath() {
  char dir[4096] = {};
  const char* d = odbcinst_system_file_path(dir);
  return std::string(d ? d : dir) + "/odbc.ini";
}

std::string StoredDsnValue(const std::string& value) { return TrimWhitespace(WithoutLineBreaks(value)); }

bool CreateMyODBCDSN(const std::string& dsn, const std::string& database, const std::string& description,
                     const std::string& server, const std::string& uid, Prompter& prompter, std::string& dllPathCache,
                     const std::vector<std::string>& candidates) {
  const std::string driver = GetMyODBCDllPath(dllPathCache, candidates);
  if (driver.empty()) {
    prompter.Message("MyODBC를 생성 dll파일을 찾을 수 없습니다.");
    return false;
  }
  EnsureFileExists(SystemOdbcIniPath());
  const std::string section = WithoutLineBreaks(dsn);
  UWORD previous = ODBC_BOTH_DSN;
  SQLGetConfigMode(&previous);
  SQLSetConfigMode(ODBC_SYSTEM_DSN);
  bool written = true;
  auto put = [&](const char* sect, const char* key, const std::string& value) {
    if (!SQLWritePrivateProfileString(sect, key, WithoutLineBreaks(value).c_str(), "odbc.ini")) written = false;
  };
  put(section.c_str(), "DATABASE", database);
  put(section.c_str(), "DESCRIPTION", description);
  put(section.c_str(), "Driver", driver);
  put(section.c_str(), "SERVER", server);
  put(section.c_str(), "UID", uid);
  put("ODBC Data Sources", section.c_str(), kDriverName);
  // Read back what the driver manager will open.
  auto holds = [&](const char* key, const std::string& value) {
    char buf[4096] = {};
    SQLGetPrivateProfileString(section.c_str(), key, "\x01", buf, sizeof buf, "odbc.ini");
    return std::string(buf) == StoredDsnValue(value);
  };
  written = written && holds("DATABASE", database) && holds("Driver", driver) && holds("SERVER", server) &&
            holds("UID", uid);
  SQLSetConfigMode(previous);
  return written;
}

}  // namespace brenvo::odbc
