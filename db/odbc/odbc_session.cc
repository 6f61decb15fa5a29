#include "db/odbc/odbc_session.h"

#include "util/error.h"

namespace brenvo::odbc {
namespace {

constexpr const char* kAdoSource = "ADODB.Recordset";

}  // namespace

[[noreturn]] void NoCurrentRecord() {
  throw BrenvoError(3021,
                    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
                    "requires a current record.",
                    kAdoSource);
}

[[noreturn]] void NotSupported() {
  throw BrenvoError(3251, "Current Recordset does not support updating. This may be a limitation of the provider, "
                          "or of the selected locktype.",
                    kAdoSource);
}

[[noreturn]] void Closed() {
  throw BrenvoError(3704, "Operation is not allowed when the object is closed.", kAdoSource);
}

[[noreturn]] void BadIndex() {
  throw BrenvoError(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.",
                    kAdoSource);
}

StmtHandle NewStatement(SQLHDBC dbc) {
  StmtHandle s;
  Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, s.out()), SQL_HANDLE_DBC, dbc, "SQLAllocHandle");
  return s;
}

void ExecDirect(SQLHSTMT stmt, const std::string& sql) {
  std::u16string w = Utf8ToUtf16(sql);
  Check(SQLExecDirectW(stmt, W(w), static_cast<SQLINTEGER>(w.size())), SQL_HANDLE_STMT, stmt, "SQLExecDirect");
}

std::string QuoteName(const std::string& name) {
  std::string out = "`";
  for (char c : name) {
    if (c == '`') out += '`';
    out += c;
  }
  return out + "`";
}

}  // namespace brenvo::odbc
