#include "db/odbc/odbc_util.h"

#include "util/error.h"

namespace brenvo::odbc {



Diagnostics ReadDiagnostics(SQLSMALLINT type, SQLHANDLE h) {
  Diagnostics d;
  for (SQLSMALLINT rec = 1;; ++rec) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR msg[2048];
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, h, rec, state, &native, msg, static_cast<SQLSMALLINT>(std::size(msg)), &len);
    if (!Ok(rc)) break;
    if (len > static_cast<SQLSMALLINT>(std::size(msg)) - 1) len = static_cast<SQLSMALLINT>(std::size(msg)) - 1;
    std::string text = Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(msg), len));
    if (rec == 1) {
      d.sqlState = Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(state), 5));
      d.nativeError = native;
      d.message = text;
    } else {
      d.message += "\r\n" + text;
    }
  }
  return d;
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h, const char* what) {
  if (Ok(rc) || rc == SQL_NO_DATA) return;
  Diagnostics d = ReadDiagnostics(type, h);
  std::string message = d.message.empty() ? std::string(what) + " failed" : d.message;
  throw BrenvoError(kProviderError, message, kProviderSource);
}

}  // namespace brenvo::odbc
