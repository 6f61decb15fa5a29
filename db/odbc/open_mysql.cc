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

}  // namespace

bool OpenMySQL(ado::Connection& conn, bool& option, const CsConnectionTexts& cs, OpenMySqlContext& ctx) {
  if (BlankOnly(cs.userId)) return Refuse(ctx, "cs정보의 [ID]가 입력되지 않았습니다.", CsField::UserId);
  if (BlankOnly(cs.dbName)) return Refuse(ctx, "cs정보의 [DB명]이 입력되지 않았습니다.", CsField::DbName);
  if (BlankOnly(cs.host)) return Refuse(ctx, "cs정보의 [HOST]가 입력되지 않았습니다.", CsField::Host);
  try {
    CreateMyODBCDSN(kDsnName, cs.dbName, kDsnDescription, cs.host, cs.userId, ctx.prompter, ctx.dllPathCache,
                    ctx.driverCandidates);
    if (option) {
      conn.SetConnectionTimeout(30);
      conn.SetCursorLocation(ado::adUseClient);
    }
    conn.Open(kMySqlConnectionString);
    return true;
  } catch (...) {
    ctx.prompter.Message(TrapText(DescribeCurrentException(), "OpenMySQL", "Form Form1"));
    return false;
  }
}

bool OpenMySQL(std::unique_ptr<ado::Connection>& conn, bool& option, const CsConnectionTexts& cs,
               OpenMySqlContext& ctx) {
  if (!conn) conn = MakeOdbcConnection();
  return OpenMySQL(*conn, option, cs, ctx);
}

}  // namespace brenvo::odbc
