#include "transfer/services.h"

#include "db/jet/jet_connection.h"
#include "db/mdb_backup.h"
#include "db/mysql/direct_db.h"
#include "db/odbc/open_mysql.h"
#include "db/open_mdb.h"
#include "transfer/window_db.h"

namespace brenvo {

TransferServices DefaultTransferServices(Console& console) {
  TransferServices s;
  s.openMdb = [&console](std::unique_ptr<ado::Connection>& conn, bool emptyDb) {
    if (!conn) conn = jet::MakeJetConnection();
    return OpenMDB(*conn, console.settings(), console.prompter(), emptyDb, console.AppName());
  };
  s.openMySql = [&console](std::unique_ptr<ado::Connection>& conn) {
    bool option = true;
    odbc::CsConnectionTexts cs{console.Text(Control::Text1_0), console.Text(Control::Text1_1),
                               console.Text(Control::cmbHost)};
    odbc::OpenMySqlContext ctx{console.prompter(),
                               [&console](odbc::CsField f) {
                                 console.SetFocus(f == odbc::CsField::UserId   ? Control::Text1_0
                                                  : f == odbc::CsField::DbName ? Control::Text1_1
                                                                               : Control::cmbHost);
                               },
                               console.odbcDriverPathCache};
    return odbc::OpenMySQL(conn, option, cs, ctx);
  };
  s.dbConnect = [&console](const std::string& host, const std::string& user, const std::string& password,
                            const std::string& database) {
    return WindowDb(console).DBConnect(host, user, password, database);
  };
  s.backupMdb = [&console](ado::Connection& target, bool emptyDb) {
    return BackupMdb(target, MdbFilePath(console.settings(), emptyDb, console.AppName()));
  };
  s.dbClose = [&console] {
    if (console.directDb) console.directDb->DBClose();
  };
  return s;
}

}  // namespace brenvo
