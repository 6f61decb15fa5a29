#include "db/odbc/open_mysql.h"

#include "db/odbc/odbc_connection.h"
#include "util/error.h"
#include "util/text.h"

namespace brenvo::odbc {
namespace {

bool BlankOnly(const std::string& s) { return TrimSpaces(s).empty(); }

bool Refuse(OpenMySqlContext& ctx, const char* message, CsField field) {
  ctx.prompter.Message(message);
  if (ctx.setFocus) ctx.setFocus(field);
  return false;
}

std::string TextOf(const ado::Value& v) {
  const auto* s = std::get_if<std::string>(&v);
  return s ? *s : std::string();
}

std::string Described(const std::string& id, const std::string& db, const std::string& host) {
  return "ID=" + id + ", DB명=" + db + ", HOST=" + host;
}

}  // namespace

std::optional<std::string> CsConnectionDifference(ado::Connection& conn, const CsConnectionTexts& cs) {
  auto rs = conn.OpenQuery("SELECT DATABASE(), CURRENT_USER()");
  std::string db, account;
  if (!rs->Eof()) {
    db = TextOf(rs->GetValue(0));
    account = TextOf(rs->GetValue(1));
  }
  ado::CloseADO(rs);
  // CURRENT_USER() is the account the server matched: user@host pattern.
  const std::string user = account.substr(0, account.rfind('@'));
  const std::string server = conn.ServerName();
  const std::string id = StoredDsnValue(cs.userId), name = StoredDsnValue(cs.dbName), host = StoredDsnValue(cs.host);
  if (db == name && user == id && server == host) return std::nullopt;
  return "접속된 CS DB가 입력한 cs정보와 다릅니다. 작업을 중단합니다.\r\n\r\n입력: " + Described(id, name, host) +
         "\r\n접속: " + Described(user, db, server);
}

namespace {

std::string StoreRefusedMessage() {
  return std::string("ODBC 데이터원본(") + kDsnName + ")을 기록하지 못했습니다: " + SystemOdbcIniPath() +
         "\r\n\r\n이전 작업의 접속정보(다른 고객의 DB일 수 있음)가 남아 있어 작업을 중단합니다.\r\n"
         "이 파일에 쓸 수 있는 권한으로 다시 실행해 주세요.";
}

}  // namespace

bool OpenMySQL(ado::Connection& conn, bool& option, const CsConnectionTexts& cs, OpenMySqlContext& ctx) {
  if (BlankOnly(cs.userId)) return Refuse(ctx, "cs정보의 [ID]가 입력되지 않았습니다.", CsField::UserId);
  if (BlankOnly(cs.dbName)) return Refuse(ctx, "cs정보의 [DB명]이 입력되지 않았습니다.", CsField::DbName);
  if (BlankOnly(cs.host)) return Refuse(ctx, "cs정보의 [HOST]가 입력되지 않았습니다.", CsField::Host);
  try {
    // Whatever the store holds when it could not be written is an earlier
    // run's record: nothing is opened then.
    if (!CreateMyODBCDSN(kDsnName, cs.dbName, kDsnDescription, cs.host, cs.userId, ctx.prompter, ctx.dllPathCache,
                         ctx.driverCandidates)) {
      if (!ctx.dllPathCache.empty()) ctx.prompter.Message(StoreRefusedMessage());
      return false;
    }
    if (option) {
      conn.SetConnectionTimeout(30);
      conn.SetCursorLocation(ado::adUseClient);
    }
    conn.Open(kMySqlConnectionString);
    // Another run may have rewritten the record between our write and the
    // open; only the connection itself can say where it went.
    if (auto difference = CsConnectionDifference(conn, cs)) {
      conn.Close();
      ctx.prompter.Message(*difference);
      return false;
    }
    return true;
  } catch (...) {
    ctx.prompter.Message(TrapText(DescribeCurrentException(), "OpenMySQL", "Form Form1"));
    // Opened but not confirmed: not to be used.
    try {
      if (conn.State() == ado::adStateOpen) conn.Close();
    } catch (...) {
    }
    return false;
  }
}

bool OpenMySQL(std::unique_ptr<ado::Connection>& conn, bool& option, const CsConnectionTexts& cs,
               OpenMySqlContext& ctx) {
  if (!conn) conn = MakeOdbcConnection();
  return OpenMySQL(*conn, option, cs, ctx);
}

}  // namespace brenvo::odbc
