#include "db/odbc/odbc_columns.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "util/error.h"

namespace brenvo::odbc {

ado::DataType AdoTypeOf(SQLSMALLINT sqlType, bool isUnsigned) {
  switch (sqlType) {
    case SQL_CHAR:
    case SQL_WCHAR:
      return ado::adChar;
    case SQL_VARCHAR:
    case SQL_WVARCHAR:
      return ado::adVarChar;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
      return ado::adLongVarChar;
    case SQL_TINYINT:
      return isUnsigned ? ado::adUnsignedTinyInt : ado::adTinyInt;
    case SQL_SMALLINT:
      return isUnsigned ? ado::adUnsignedSmallInt : ado::adSmallInt;
    case SQL_INTEGER:
      return isUnsigned ? ado::adUnsignedInt : ado::adInteger;
    case SQL_BIGINT:
      return isUnsigned ? ado::adUnsignedBigInt : ado::adBigInt;
    case SQL_REAL:
      return ado::adSingle;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return ado::adDouble;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return ado::adNumeric;
    case SQL_BIT:
      return ado::adBoolean;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return ado::adDBDate;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return ado::adDBTime;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return ado::adDBTimeStamp;
    case SQL_BINARY:
      return ado::adBinary;
    case SQL_VARBINARY:
      return ado::adVarBinary;
    case SQL_LONGVARBINARY:
      return ado::adLongVarBinary;
    case SQL_GUID:
      return ado::adGUID;
    default:
      return ado::adVarChar;
  }
}

long DefinedSizeOf(ado::DataType type, SQLULEN columnSize) {
  switch (type) {
    case ado::adTinyInt:
    case ado::adUnsignedTinyInt:
      return 1;
    case ado::adSmallInt:
    case ado::adUnsignedSmallInt:
    case ado::adBoolean:
      return 2;
    case ado::adInteger:
    case ado::adUnsignedInt:
    case ado::adSingle:
      return 4;
    case ado::adBigInt:
    case ado::adUnsignedBigInt:
    case ado::adDouble:
      return 8;
    case ado::adDBDate:
    case ado::adDBTime:
      return 6;
    case ado::adDBTimeStamp:
    case ado::adGUID:
      return 16;
    case ado::adNumeric:
      return 19;
    default:
      return columnSize > static_cast<SQLULEN>(LONG_MAX) ? LONG_MAX : static_cast<long>(columnSize);
  }
}

std::vector<Column> DescribeColumns(SQLHSTMT stmt) {
  SQLSMALLINT n = 0;
  Check(SQLNumResultCols(stmt, &n), SQL_HANDLE_STMT, stmt, "SQLNumResultCols");
  std::vector<Column> cols(static_cast<size_t>(n));
  for (SQLSMALLINT i = 0; i < n; ++i) {
    SQLWCHAR name[512];
    SQLSMALLINT nameLen = 0, nullable = 0;
    Column& c = cols[static_cast<size_t>(i)];
    Check(SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(i + 1), name, static_cast<SQLSMALLINT>(std::size(name)),
                          &nameLen, &c.sqlType, &c.columnSize, &c.decimalDigits, &nullable),
          SQL_HANDLE_STMT, stmt, "SQLDescribeCol");
    if (nameLen > static_cast<SQLSMALLINT>(std::size(name)) - 1) nameLen = static_cast<SQLSMALLINT>(std::size(name)) - 1;
    SQLLEN isUnsigned = SQL_FALSE;
    SQLColAttributeW(stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
    c.info.name = Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(name), nameLen));
    c.info.type = AdoTypeOf(c.sqlType, isUnsigned == SQL_TRUE);
    c.info.definedSize = DefinedSizeOf(c.info.type, c.columnSize);
    c.info.precision = static_cast<int>(c.columnSize);
    c.info.scale = c.decimalDigits;
    c.info.nullable = nullable != SQL_NO_NULLS;
  }
  return cols;
}

namespace {

bool ReadNarrow(SQLHSTMT stmt, SQLUSMALLINT col, std::string& out) {
  char buf[256];
  SQLLEN ind = 0;
  SQLRETURN rc = SQLGetData(stmt, col, SQL_C_CHAR, buf, sizeof buf, &ind);
  Check(rc, SQL_HANDLE_STMT, stmt, "SQLGetData");
  if (ind == SQL_NULL_DATA || rc == SQL_NO_DATA) return false;
  size_t got = (ind == SQL_NO_TOTAL || ind >= static_cast<SQLLEN>(sizeof buf)) ? sizeof buf - 1 : static_cast<size_t>(ind);
  out.assign(buf, got);
  return true;
}

bool ReadBinary(SQLHSTMT stmt, SQLUSMALLINT col, ado::Bytes& out) {
  out.clear();
  unsigned char buf[8192];
  for (;;) {
    SQLLEN ind = 0;
    SQLRETURN rc = SQLGetData(stmt, col, SQL_C_BINARY, buf, sizeof buf, &ind);
    if (rc == SQL_NO_DATA) break;
    Check(rc, SQL_HANDLE_STMT, stmt, "SQLGetData");
    if (ind == SQL_NULL_DATA) return false;
    size_t got = (ind == SQL_NO_TOTAL || ind > static_cast<SQLLEN>(sizeof buf)) ? sizeof buf : static_cast<size_t>(ind);
    out.insert(out.end(), buf, buf + got);
    if (rc == SQL_SUCCESS) break;
  }
  return true;
}

template <typename T>
bool ReadFixed(SQLHSTMT stmt, SQLUSMALLINT col, SQLSMALLINT ctype, T& out) {
  SQLLEN ind = 0;
  SQLRETURN rc = SQLGetData(stmt, col, ctype, &out, sizeof out, &ind);
  Check(rc, SQL_HANDLE_STMT, stmt, "SQLGetData");
  return ind != SQL_NULL_DATA && rc != SQL_NO_DATA;
}

}  // namespace

ado::DateTime ParseDateTimeText(const std::string& text) {
  ado::DateTime dt;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char frac[16] = {};
  if (text.size() >= 8 && text[2] == ':') {
    std::sscanf(text.c_str(), "%d:%d:%d.%15[0-9]", &h, &mi, &s, frac);
  } else {
    int n = std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%15[0-9]", &y, &mo, &d, &h, &mi, &s, frac);
    if (n < 3) throw BrenvoError(kProviderError, "Invalid date value: " + text, kProviderSource);
    dt.year = y;
    dt.month = mo;
    dt.day = d;
  }
  dt.hour = h;
  dt.minute = mi;
  dt.second = s;
  if (frac[0]) {
    std::string f(frac);
    f.resize(6, '0');
    dt.microsecond = std::stoi(f);
  }
  return dt;
}

ado::Value ReadValue(SQLHSTMT stmt, int i, const Column& col) {
  const auto c = static_cast<SQLUSMALLINT>(i + 1);
  switch (col.info.type) {
    case ado::adTinyInt:
    case ado::adUnsignedTinyInt:
    case ado::adSmallInt:
    case ado::adUnsignedSmallInt:
    case ado::adInteger:
    case ado::adUnsignedInt:
    case ado::adBigInt: {
      int64_t v = 0;
      if (!ReadFixed(stmt, c, SQL_C_SBIGINT, v)) return ado::Null{};
      return v;
    }
    case ado::adUnsignedBigInt: {
      uint64_t v = 0;
      if (!ReadFixed(stmt, c, SQL_C_UBIGINT, v)) return ado::Null{};
      return static_cast<int64_t>(v);
    }
    case ado::adDouble: {
      double v = 0;
      if (!ReadFixed(stmt, c, SQL_C_DOUBLE, v)) return ado::Null{};
      return v;
    }
    case ado::adSingle: {
      float v = 0;
      if (!ReadFixed(stmt, c, SQL_C_FLOAT, v)) return ado::Null{};
      return v;
    }
    case ado::adBoolean: {
      unsigned char v = 0;
      if (!ReadFixed(stmt, c, SQL_C_BIT, v)) return ado::Null{};
      return v != 0;
    }
    case ado::adNumeric: {
      std::string s;
      if (!ReadNarrow(stmt, c, s)) return ado::Null{};
      return ado::Decimal{s};
    }
    case ado::adDBDate:
    case ado::adDBTime:
    case ado::adDBTimeStamp: {
      // As text: the driver cannot put MySQL's zero date into a date structure.
      std::string s;
      if (!ReadNarrow(stmt, c, s)) return ado::Null{};
      return ParseDateTimeText(s);
    }
    case ado::adBinary:
    case ado::adVarBinary:
    case ado::adLongVarBinary: {
      ado::Bytes b;
      if (!ReadBinary(stmt, c, b)) return ado::Null{};
      return b;
    }
    default: {
      // Text as the bytes the server sends on this utf8mb4 connection. The
      // driver's conversion to UTF-16 cuts the last characters off some
      // values that mix Hangul and ASCII ("(흑색)" arrives as "(흑색").
      ado::Bytes b;
      if (!ReadBinary(stmt, c, b)) return ado::Null{};
      return std::string(b.begin(), b.end());
    }
  }
}

}  // namespace brenvo::odbc
