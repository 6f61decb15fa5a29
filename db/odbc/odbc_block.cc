#include "db/odbc/odbc_block.h"

#include <algorithm>
#include <cstring>

#include "util/error.h"

namespace brenvo::odbc {
namespace {

// The bound buffers of one block take about this much, whatever the width
// of a row; a block has at most kMaxRows rows.
constexpr size_t kBlockBytes = size_t{1} << 20;
constexpr size_t kMaxRows = 1024;
// TEXT, BLOB and very wide columns start with buffers of this many bytes
// and grow when a value is longer.
constexpr size_t kLongStart = 4096;

size_t Width(ado::DataType type, SQLULEN columnSize, SQLSMALLINT& ctype) {
  switch (type) {
    case ado::adTinyInt:
    case ado::adUnsignedTinyInt:
    case ado::adSmallInt:
    case ado::adUnsignedSmallInt:
    case ado::adInteger:
    case ado::adUnsignedInt:
    case ado::adBigInt:
      ctype = SQL_C_SBIGINT;
      return sizeof(int64_t);
    case ado::adUnsignedBigInt:
      ctype = SQL_C_UBIGINT;
      return sizeof(uint64_t);
    case ado::adDouble:
      ctype = SQL_C_DOUBLE;
      return sizeof(double);
    case ado::adSingle:
      ctype = SQL_C_FLOAT;
      return sizeof(float);
    case ado::adBoolean:
      ctype = SQL_C_BIT;
      return 1;
    case ado::adNumeric:
      // DECIMAL(65,30) is 67 characters as text.
      ctype = SQL_C_CHAR;
      return 96;
    case ado::adDBDate:
    case ado::adDBTime:
    case ado::adDBTimeStamp:
      // As text, as ReadValue reads them: "YYYY-MM-DD HH:MM:SS.ffffff".
      ctype = SQL_C_CHAR;
      return 48;
    case ado::adBinary:
    case ado::adVarBinary:
    case ado::adLongVarBinary:
      ctype = SQL_C_BINARY;
      return columnSize == 0 || columnSize > kLongStart ? kLongStart : std::max<size_t>(columnSize, 16);
    default: {
      // Text as the server's utf8mb4 bytes: up to four a character.
      ctype = SQL_C_BINARY;
      const SQLULEN bytes = columnSize > kLongStart ? kLongStart : columnSize * 4;
      return columnSize == 0 ? kLongStart : std::max<size_t>(bytes, 16);
    }
  }
}

bool Truncated(SQLSMALLINT ctype, size_t width, SQLLEN ind) {
  if (ind == SQL_NULL_DATA) return false;
  if (ind == SQL_NO_TOTAL || ind < 0) return true;
  const auto len = static_cast<size_t>(ind);
  return ctype == SQL_C_CHAR ? len >= width : len > width;
}

}  // namespace

size_t ValueBytes(const ado::Value& v) {
  if (const auto* t = std::get_if<std::string>(&v)) return t->size() + 8;
  if (const auto* b = std::get_if<ado::Bytes>(&v)) return b->size() + 8;
  if (const auto* d = std::get_if<ado::Decimal>(&v)) return d->text.size() + 8;
  return 8;
}

BlockFetch::BlockFetch(const std::vector<Column>& cols) {
  cols_.reserve(cols.size());
  for (const Column& c : cols) {
    Buffer b{c.info.type, SQL_C_BINARY, 0, {}, {}};
    b.width = Width(c.info.type, c.columnSize, b.ctype);
    cols_.push_back(std::move(b));
  }
  Size();
}

void BlockFetch::Size() {
  size_t row = 0;
  for (const Buffer& b : cols_) row += b.width + sizeof(SQLLEN);
  rows_ = std::clamp<size_t>(kBlockBytes / std::max<size_t>(row, 1), 1, kMaxRows);
  for (Buffer& b : cols_) {
    b.data.assign(b.width * rows_, 0);
    b.ind.assign(rows_, 0);
  }
  status_.assign(rows_, SQL_ROW_SUCCESS);
}

void BlockFetch::Bind(SQLHSTMT s) {
  Check(SQLSetStmtAttr(s, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0),
        SQL_HANDLE_STMT, s, "SQLSetStmtAttr");
  Check(SQLSetStmtAttr(s, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows_), 0), SQL_HANDLE_STMT, s,
        "SQLSetStmtAttr");
  Check(SQLSetStmtAttr(s, SQL_ATTR_ROW_STATUS_PTR, status_.data(), 0), SQL_HANDLE_STMT, s, "SQLSetStmtAttr");
  Check(SQLSetStmtAttr(s, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0), SQL_HANDLE_STMT, s, "SQLSetStmtAttr");
  for (size_t i = 0; i < cols_.size(); ++i) {
    Buffer& b = cols_[i];
    Check(SQLBindCol(s, static_cast<SQLUSMALLINT>(i + 1), b.ctype, b.data.data(), static_cast<SQLLEN>(b.width),
                     b.ind.data()),
          SQL_HANDLE_STMT, s, "SQLBindCol");
  }
}

// The statement goes back to one row a fetch with nothing bound, as every
// other reader of it expects.
void BlockFetch::Release(SQLHSTMT s) {
  SQLFreeStmt(s, SQL_UNBIND);
  SQLSetStmtAttr(s, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  SQLSetStmtAttr(s, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
  SQLSetStmtAttr(s, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
}

bool BlockFetch::Grow(size_t col, SQLLEN needed) {
  Buffer& b = cols_[col];
  const size_t need = needed >= 0 ? static_cast<size_t>(needed) + 1 : b.width * 4;
  if (need > kMaxWidth) return false;
  // At least twice as wide: a column of ever longer values (memos) has its
  // slice read again a few times, not once for every new longest value.
  b.width = std::min(kMaxWidth, (std::max(need, b.width * 2) + 15) / 16 * 16);
  return true;
}

BlockFetch::Outcome BlockFetch::ReadAll(SQLHSTMT s, std::vector<std::vector<ado::Value>>& out, size_t& bytes) {
  const size_t startRows = out.size();
  const size_t startBytes = bytes;
  struct Unbind {
    SQLHSTMT s;
    ~Unbind() { Release(s); }
  } unbind{s};
  Bind(s);
  std::vector<SQLLEN> grow(cols_.size(), 0);
  bool again = false;
  for (;;) {
    fetched_ = 0;
    SQLRETURN rc = SQLFetch(s);
    if (rc == SQL_NO_DATA) break;
    Check(rc, SQL_HANDLE_STMT, s, "SQLFetch");
    const auto n = static_cast<size_t>(fetched_);
    for (size_t r = 0; r < n; ++r) {
      if (status_[r] == SQL_ROW_ERROR) Check(SQL_ERROR, SQL_HANDLE_STMT, s, "SQLFetch");
      for (size_t c = 0; c < cols_.size(); ++c) {
        const Buffer& b = cols_[c];
        const SQLLEN ind = b.ind[r];
        if (!Truncated(b.ctype, b.width, ind)) continue;
        again = true;
        grow[c] = ind == SQL_NO_TOTAL || ind < 0 ? -1 : std::max(grow[c], ind);
      }
    }
    if (again) break;
    for (size_t r = 0; r < n; ++r) {
      std::vector<ado::Value>& row = out.emplace_back(cols_.size());
      for (size_t c = 0; c < cols_.size(); ++c) {
        row[c] = Take(cols_[c], r);
        bytes += ValueBytes(row[c]);
      }
    }
  }
  if (!again) return Outcome::Read;
  SQLFreeStmt(s, SQL_CLOSE);
  out.resize(startRows);
  bytes = startBytes;
  for (size_t c = 0; c < cols_.size(); ++c) {
    if (grow[c] == 0) continue;
    if (!Grow(c, grow[c])) usable_ = false;
  }
  if (!usable_) return Outcome::Unbindable;
  Size();
  return Outcome::Again;
}

ado::Value BlockFetch::Take(const Buffer& b, size_t row) const {
  const SQLLEN ind = b.ind[row];
  if (ind == SQL_NULL_DATA) return ado::Null{};
  const char* p = b.data.data() + row * b.width;
  const auto len = static_cast<size_t>(ind);
  switch (b.ctype) {
    case SQL_C_SBIGINT: {
      int64_t v;
      std::memcpy(&v, p, sizeof v);
      return v;
    }
    case SQL_C_UBIGINT: {
      uint64_t v;
      std::memcpy(&v, p, sizeof v);
      return static_cast<int64_t>(v);
    }
    case SQL_C_DOUBLE: {
      double v;
      std::memcpy(&v, p, sizeof v);
      return v;
    }
    case SQL_C_FLOAT: {
      float v;
      std::memcpy(&v, p, sizeof v);
      return v;
    }
    case SQL_C_BIT:
      return *p != 0;
    case SQL_C_CHAR:
      if (b.type == ado::adNumeric) return ado::Decimal{std::string(p, len)};
      return ParseDateTimeText(std::string(p, len));
    default:
      if (b.type == ado::adBinary || b.type == ado::adVarBinary || b.type == ado::adLongVarBinary)
        return ado::Bytes(p, p + len);
      return std::string(p, len);
  }
}

}  // namespace brenvo::odbc
