#include "odbc_test_env.h"

#include <cstdlib>
#include <filesystem>

#include "support/test_support.h"

namespace brenvo::test {
namespace {

struct OdbcFolders {
  TempDir dir;
  std::string sys;
  OdbcFolders() {
    sys = (dir.path() / "sys").string();
    std::filesystem::create_directories(sys);
    std::filesystem::create_directories(dir.path() / "user");
    ::setenv("ODBCSYSINI", sys.c_str(), 1);
    ::setenv("ODBCINI", (dir.path() / "user" / "odbc.ini").string().c_str(), 1);
  }
};

OdbcFolders& Folders() {
  static OdbcFolders f;
  return f;
}

// Before main, so that no ODBC call of any test sees the machine's files.
const bool kSetEarly = (Folders(), true);

}  // namespace

const std::string& OdbcSysIniDir() { return Folders().sys; }
std::string OdbcSysIniPath() { return OdbcSysIniDir() + "/odbc.ini"; }

}  // namespace brenvo::test
