#include "transfer/services.h"

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
  s.dbConnect = [](const std::string&, const std::string&, const std::string&, const std::string&) { return false; };
  s.dbClose = [] {};
  return s;
}

}  // namespace brenvo
