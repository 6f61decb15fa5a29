// Small pieces every ODBC file here shares: owned handles, the driver
// manager's diagnostics as BrenvoError, and UTF-8 <-> UTF-16 for the wide
// ("W") entry points.
//
// All text crosses the driver as SQLWCHAR (UTF-16). The driver converts it
// to and from the connection's character set and the server to and from the
// column's, so Korean text arrives intact in utf8mb4 and euckr databases
// alike, and the program keeps UTF-8 inside.
#pragma once

#include "util/utf16.h"

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <string_view>

namespace brenvo::odbc {

// The number ADO gives errors of the ODBC provider (E_FAIL), and its source.
inline constexpr long kProviderError = -2147467259;
inline constexpr const char* kProviderSource = "Microsoft OLE DB Provider for ODBC Drivers";

inline SQLWCHAR* W(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

// The diagnostics of a handle: every record's message joined by line breaks
// (the first record's native error is kept in nativeError).
struct Diagnostics {
  std::string sqlState;
  long nativeError = 0;
  std::string message;
};
Diagnostics ReadDiagnostics(SQLSMALLINT type, SQLHANDLE h);

// Throws BrenvoError(kProviderError, message, kProviderSource) unless rc succeeded.
void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h, const char* what);
inline bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// One owned ODBC handle of one type, freed at the end of its scope.
template <SQLSMALLINT Type>
class Handle {
 public:
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& o) noexcept : h_(o.h_) { o.h_ = SQL_NULL_HANDLE; }
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = o.h_;
      o.h_ = SQL_NULL_HANDLE;
    }
    return *this;
  }
  ~Handle() { reset(); }
  void reset() {
    if (h_ != SQL_NULL_HANDLE) SQLFreeHandle(Type, h_);
    h_ = SQL_NULL_HANDLE;
  }
  SQLHANDLE get() const { return h_; }
  SQLHANDLE* out() {
    reset();
    return &h_;
  }
  explicit operator bool() const { return h_ != SQL_NULL_HANDLE; }

 private:
  SQLHANDLE h_ = SQL_NULL_HANDLE;
};

using EnvHandle = Handle<SQL_HANDLE_ENV>;
using DbcHandle = Handle<SQL_HANDLE_DBC>;
using StmtHandle = Handle<SQL_HANDLE_STMT>;

}  // namespace brenvo::odbc
