#include "db/open_mdb.h"

#include <filesystem>

#include "util/paths.h"

namespace brenvo {

std::string MdbFilePath(const SettingsStore& settings, bool bEmptyDB, const std::string& appName) {
  std::string appPath = settings.Get(appName, "Config", "AppPath", std::string(kDefaultAppRoot) + appName);
  return JoinPath(JoinPath(appPath, "DBS"), bEmptyDB ? "empty-dbMain.mdb" : "dbMain.mdb");
}

std::string MdbConnectionString(const std::string& filePath) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + filePath + ";Jet OLEDB:Database Password=" + kMdbPassword;
}

bool OpenMDB(ado::Connection& conn, const SettingsStore& settings, Prompter& prompter, bool bEmptyDB,
             const std::string& appName) {
  std::string path = MdbFilePath(settings, bEmptyDB, appName);
  if (bEmptyDB) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) prompter.Message("Empty DB를 찾을 수 없습니다.\r\n" + path);
  }
  conn.SetConnectionTimeout(30);
  conn.SetCursorLocation(ado::adUseClient);
  conn.Open(MdbConnectionString(path));
  return true;
}

}  // namespace brenvo
