#include "transfer/services.h"

#include "db/mysql/direct_db.h"
#include "util/error.h"

namespace brenvo {

// Bound to the real procedures as the database side lands.
TransferServices DefaultTransferServices(Console& console) {
  TransferServices s;
  s.openMdb = [](std::unique_ptr<ado::Connection>&, bool) -> bool {
    throw BrenvoError(3706, "Provider cannot be found. It may not be properly installed.", "ADODB.Connection");
  };
  s.openMySql = [&console](std::unique_ptr<ado::Connection>&) -> bool {
    console.prompter().Message("Error 3706 (Provider cannot be found. It may not be properly installed.) in procedure OpenMySQL of Form Form1");
    return false;
  };
  s.dbConnect = [&console](const std::string& host, const std::string& user, const std::string& password,
                            const std::string& database) {
    if (!console.directDb)
      console.directDb = std::make_shared<mysql::DirectDb>(
          console.prompter(), [&console](const std::string& line) { console.AppendLogFile(line); });
    return console.directDb->DBConnect(host, user, password, database);
  };
  s.dbClose = [&console] {
    if (console.directDb) console.directDb->DBClose();
  };
  return s;
}

}  // namespace brenvo
