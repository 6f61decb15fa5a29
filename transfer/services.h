// The connection procedures the transfer handlers call: opening the Access
// files and the CS DB, and the window's direct MySQL connection. The real
// ones come from db/; tests may put others in their place.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "db/ado/recordset.h"
#include "transfer/console.h"
#include "util/credentials.h"

namespace brenvo {

struct TransferServices {
  // OpenMDB: dbMain.mdb, or empty-dbMain.mdb when emptyDb. Raises on failure.
  std::function<bool(std::unique_ptr<ado::Connection>& conn, bool emptyDb)> openMdb;
  // OpenMySQL with its option true: false after its own message.
  std::function<bool(std::unique_ptr<ado::Connection>& conn)> openMySql;
  // DBConnect / DBClose of the window's one direct MySQL connection.
  std::function<bool(const std::string& host, const std::string& user, const std::string& password,
                     const std::string& database)>
      dbConnect;
  std::function<void()> dbClose;
  // A byte-identical copy of the Access target (dbMain.mdb, or
  // empty-dbMain.mdb when emptyDb) made before its first change; the copy's
  // path. Raises when the copy cannot be made. Unset: no backup is offered.
  std::function<std::string(ado::Connection& target, bool emptyDb)> backupMdb;
};

// The real procedures, bound to console (its settings, prompter, fields).
TransferServices DefaultTransferServices(Console& console);

// The fixed password of the CS accounts the system creates.
inline constexpr const char* kCsPassword = kCsUserPassword;

}  // namespace brenvo
