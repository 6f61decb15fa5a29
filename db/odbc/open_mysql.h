// OpenMySQL: checks the three CS fields of step 3, writes the data source
// from them and opens it with the fixed password. db/ sits below the window,
// so the window hands in its texts, its prompter, a way to move the focus
// and its driver-path cache.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/ado/recordset.h"
#include "db/odbc/myodbc_dsn.h"
#include "util/credentials.h"
#include "util/prompter.h"

namespace brenvo::odbc {

// The step-3 fields: Text1(0), Text1(1), cmbHost.
enum class CsField { UserId, DbName, Host };

struct CsConnectionTexts {
  std::string userId;  // Text1(0)
  std::string dbName;  // Text1(1)
  std::string host;    // cmbHost
};

// The record's name and the CS accounts' fixed password (no user: it comes
// from the record's UID).
inline const std::string kMySqlConnectionString = std::string("DSN=") + kDsnName + ";PWD=" + kCsUserPassword;

struct OpenMySqlContext {
  Prompter& prompter;
  std::function<void(CsField)> setFocus;  // may be empty
  std::string& dllPathCache;              // the window's, kept across calls
  std::vector<std::string> driverCandidates = MyODBCDllCandidates();
};

// True with conn open on the CS DB the fields name. False after a message:
// one of the three "cs정보의 ..." messages (focus moved to the field), the
// driver-file message, the store's refusal to keep the record, a connection
// that reached another database, account or server than the typed ones
// (closed again), or the trap's "Error N (description) in procedure
// OpenMySQL of Form Form1". With option true the connect time-out is 30
// seconds and the cursor client-side.
bool OpenMySQL(ado::Connection& conn, bool& option, const CsConnectionTexts& cs, OpenMySqlContext& ctx);
// Where the open connection differs from the typed fields (database,
// account from CURRENT_USER(), server), as the message that says so; nothing
// when it is the typed one.
std::optional<std::string> CsConnectionDifference(ado::Connection& conn, const CsConnectionTexts& cs);

// The same on a connection made here when conn is empty.
bool OpenMySQL(std::unique_ptr<ado::Connection>& conn, bool& option, const CsConnectionTexts& cs,
               OpenMySqlContext& ctx);

}  // namespace brenvo::odbc
