// The ODBC data source the copy run reaches the CS DB through: the record
// "karvo_brenvocs" written from the step-3 fields into the machine-wide
// store before every connection, and the search for the driver file.
//
// Here the machine-wide store is the driver manager's system odbc.ini
// (ODBCSYSINI, by default /etc), written with the driver manager's own
// profile API in system mode; the record's value names and their order are
// those of the registry record on Windows. The INI format cannot keep
// blanks at the edges of a value (the driver manager strips them), and a
// line break would start a new line of the file, so line breaks in the
// typed texts are dropped before writing.
#pragma once

#include <string>
#include <vector>

#include "util/prompter.h"

namespace brenvo::odbc {

inline constexpr const char* kDsnName = "karvo_brenvocs";
inline constexpr const char* kDsnDescription = "KarvoSoft Brenvo C/S";
inline constexpr const char* kDriverName = "MySQL ODBC 3.51 Driver";

// Driver-file candidates in the order they are tried: the connector's paths
// on Windows, the MariaDB Connector/ODBC shared library's usual places here.
const std::vector<std::string>& MyODBCDllCandidates();

// cache: the window's driver path; once found it is kept, and the candidates
// are not looked at again. "" when none exists (the next call looks again).
std::string GetMyODBCDllPath(std::string& cache,
                             const std::vector<std::string>& candidates = MyODBCDllCandidates());

// Writes the record (DATABASE, DESCRIPTION, Driver, SERVER, UID in this
// order, then the "ODBC Data Sources" entry). Without a driver file it shows
// "MyODBC를 생성 dll파일을 찾을 수 없습니다.", writes nothing and gives false.
// True only when the record, read back, holds what was written: a store that
// refused the write (no rights, read-only) still holds the previous run's
// record, possibly another customer's, and must not be opened.
bool CreateMyODBCDSN(const std::string& dsn, const std::string& database, const std::string& description,
                     const std::string& server, const std::string& uid, Prompter& prompter, std::string& dllPathCache,
                     const std::vector<std::string>& candidates = MyODBCDllCandidates());

// value as the record keeps it: without line breaks, and without the blanks
// and tabs at its edges, which the driver manager strips.
std::string StoredDsnValue(const std::string& value);

// Where the driver manager keeps the system data sources (its odbc.ini).
std::string SystemOdbcIniPath();

}  // namespace brenvo::odbc
