#include "admin/cs_prepare.h"

#include "admin/window_db.h"
#include "db/mysql/cmysql.h"
#include "util/servers.h"
#include "util/trap.h"

namespace brenvo::admin {

namespace {

// A notice of the lookup: a log line when logging, else a message box.
void Notice(Console& console, bool logging, const std::string& text) {
  if (logging)
    console.AppendLog(text, 0);
  else
    console.prompter().Message(text);
}

}  // namespace

namespace {
std::string LookUp(Console& console, bool logging);
}

// The old procedure had no trap of its own; a failure it did not foresee (a
// management table without one of its columns, say) is reported here and
// gives the empty result instead of ending the program.
std::string GetIPFromUserID(Console& console, bool logging) {
  std::string address;
  if (!Trap(console.prompter(), "GetIPFromUserID", "Module modMain_DB",
            [&] { address = LookUp(console, logging); })) {
    WindowDb(console).DBClose();
    return {};
  }
  return address;
}

namespace {

std::string LookUp(Console& console, bool logging) {
  std::string address;
  if (logging) console.AppendLog("GetIPFromUserID Start...", 0);

  const std::string dbName = TrimSpaces(console.Text(Control::Text1_1));
  if (dbName.empty()) {
    Notice(console, logging, "cs정보의 [DB명]이 입력되지 않았습니다.");
    if (!logging) console.SetFocus(Control::Text1_1);
    return {};
  }

  auto& db = WindowDb(console);
  if (!db.DBConnect(AdminServerAddress(console.settings(), console.ProgramTitle()), kAdminUser, kAdminPassword,
                    kAdminDatabase))
    return {};

  // The typed name goes into both statements only as an escaped literal; a
  // quote in it can end nothing and start nothing.
  const std::string literal = "'" + db.instance()->escape_string(dbName) + "'";
  std::unique_ptr<mysql::MemoryRecordset> rs;
  const int32_t count = db.DBSelect(rs, "SELECT user_id, app_active, app_dbip FROM app_priv" +
                                            std::string(" WHERE app_dbname = ") + literal);
  if (count < 0 || !rs || rs->Eof()) {
    // A failed statement has shown its own message; only an empty answer is
    // "no such database".
    if (rs) Notice(console, logging, "해당 DB는 존재하지 않습니다.");
    ado::CloseADO(rs);
    db.DBClose();
    return {};
  }

  address = rs->Text("app_dbip");
  if (rs->Text("user_id") != console.Text(Control::Text1_0)) {
    Notice(console, logging, "입력된 ID와 CS관리테이블의 자료가 일치하지 않습니다.");
    ado::CloseADO(rs);
    db.DBClose();
    return {};
  }

  if (!logging && LeadingNumber(rs->Text("app_active")) == 1) {
    if (console.prompter().Ask("해당 DB가 차단되어 있지 않습니다. 차단할까요?")) {
      if (db.DBExecute("UPDATE app_priv" + std::string(" SET app_active = 0") + " WHERE app_dbname = " + literal) > 0)
        console.prompter().Message("차단하였습니다.");
    }
  }
  ado::CloseADO(rs);
  db.DBClose();

  // No address, no server to ask: the old check would have tried the local
  // server instead and shown its refusal.
  if (!logging && !address.empty()) {
    if (ExistProcess(console.prompter(), address, dbName, console.Text(Control::Text1_0)))
      console.prompter().Message("해당DB의 프로세스가 존재합니다.");
  }
  db.DBClose();
  return address;
}

}  // namespace

bool ExistProcess(Prompter& prompter, const std::string& host, const std::string& database, const std::string& user) {
  bool found = false;
  Trap(prompter, "ExistProcess", "Module modMain_DB", [&] {
    mysql::cMySQL my(prompter);
    if (!my.real_connect(host, user, kCsUserPassword, "", 3306, "", 0, false)) return;
    auto rs = my.list_processes();
    if (rs) {
      if (!rs->Eof()) rs->MoveFirst();
      const int dbField = rs->FieldIndex("db");
      while (!rs->Eof()) {
        if (dbField >= 0 && rs->Text(dbField) == database) {
          found = true;
          break;
        }
        rs->MoveNext();
      }
    }
    ado::CloseADO(rs);
    my.free_result();
  });
  return found;
}

void cmdChkCSDB_Click(Console& console) {
  console.SetText(Control::cmbHost, GetIPFromUserID(console, false));
  if (!console.Text(Control::cmbHost).empty())
    console.prompter().Message("작업준비 완료");
  else
    console.prompter().Message("작업준비중 문제 발생!!");
}

}  // namespace brenvo::admin
