// Reading a result a block of rows at a time into bound column buffers.
//
// One SQLGetData per value costs more than the rest of a copy's reading
// together (the driver manager's checks, the driver's conversion set-up, a
// column fetch in the client library, for every value). Bound columns let
// the driver fill whole arrays of rows per SQLFetch.
//
// Values come out exactly as ReadValue gives them: the same C types, text
// and binary as the bytes the server sent. A value longer than its buffer
// is never cut: ReadAll says so, the buffer grows to the value's length,
// and the caller runs the statement again (a table's slice runs the same
// way twice). A column whose values outgrow kMaxWidth cannot be bound, and
// the caller reads by SQLGetData instead.
#pragma once

#include <cstddef>
#include <vector>

#include "db/ado/recordset.h"
#include "db/odbc/odbc_columns.h"

namespace brenvo::odbc {

class BlockFetch {
 public:
  static constexpr size_t kMaxWidth = size_t{1} << 20;

  explicit BlockFetch(const std::vector<Column>& cols);

  enum class Outcome { Read, Again, Unbindable };
  // Appends every remaining row of s's executed result to out and adds the
  // size of their values to bytes. Again: a value did not fit; out and
  // bytes are as they were, the buffers have grown, and s is closed: run it
  // again. Unbindable: the same, but a value is too long to bind at all.
  Outcome ReadAll(SQLHSTMT s, std::vector<std::vector<ado::Value>>& out, size_t& bytes);

  bool Usable() const { return usable_; }
  size_t RowsPerFetch() const { return rows_; }

 private:
  struct Buffer {
    ado::DataType type;
    SQLSMALLINT ctype;
    size_t width;  // bytes per row, with the terminator for SQL_C_CHAR
    std::vector<char> data;
    std::vector<SQLLEN> ind;
  };
  void Size();
  void Bind(SQLHSTMT s);
  static void Release(SQLHSTMT s);
  bool Grow(size_t col, SQLLEN needed);
  ado::Value Take(const Buffer& b, size_t row) const;

  std::vector<Buffer> cols_;
  size_t rows_ = 1;
  bool usable_ = true;
  SQLULEN fetched_ = 0;
  std::vector<SQLUSMALLINT> status_;
};

size_t ValueBytes(const ado::Value& v);

}  // namespace brenvo::odbc
