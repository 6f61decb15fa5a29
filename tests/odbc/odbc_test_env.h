// The driver manager reads ODBCSYSINI / ODBCINI once per process, so every
// ODBC test process gets its own pair of folders, set before the first ODBC
// call, and nothing on the machine is touched.
#pragma once

#include <string>

namespace brenvo::test {

// The folder of this process's system odbc.ini (created on first use).
const std::string& OdbcSysIniDir();
std::string OdbcSysIniPath();

}  // namespace brenvo::test
