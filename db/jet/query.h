// A SELECT bound to a table of an open database and evaluated row by row.
// Plain selections stream through a table scan, so memory stays flat;
// aggregate selections (COUNT, MAX, MIN) are computed when the query opens
// and give one row. COUNT(*) without a condition is the table's stored row
// count, as Jet answers it.
//
// Values in expressions follow Jet: comparisons with NULL are NULL (a row is
// kept only when the condition is true), text compares without regard to
// case, StrConv(x, 128) gives the bytes of x in the ANSI code page (CP949
// here) and LENB counts bytes (two per character of a Unicode text).
#pragma once

#include <memory>
#include <vector>

#include "db/ado/recordset.h"
#include "db/jet/database.h"
#include "db/jet/row.h"
#include "db/jet/sql.h"
#include "db/jet/table_scan.h"

namespace brenvo::jet {

class Query {
 public:
  Query(std::shared_ptr<const Database> db, sql::SelectStatement statement);
  ~Query();

  const std::vector<ado::FieldInfo>& Fields() const { return fields_; }
  // The next result row into values; false at the end.
  bool Next(std::vector<ado::Value>& values);
  void Rewind();

 private:
  struct Output {
    const ColumnDef* column = nullptr;  // a plain column: decoded directly
    const sql::Expr* expr = nullptr;
  };
  void Bind(const sql::Expr& e);
  ado::Value Eval(const sql::Expr& e, const RowReader* row);
  bool Matches(const RowReader& row);
  void ComputeAggregates();
  ado::DataType TypeOf(const sql::Expr& e) const;

  std::shared_ptr<const Database> db_;
  sql::SelectStatement st_;
  const TableDef* table_ = nullptr;
  std::vector<ado::FieldInfo> fields_;
  std::vector<Output> outputs_;
  bool aggregate_ = false;
  std::vector<ado::Value> aggregateRow_;
  bool aggregateDone_ = false;
  std::unique_ptr<TableScan> scan_;
  std::vector<uint8_t> scratch_;
};

// Truth of a condition value (NULL is false); text is a type mismatch.
bool IsTrue(const ado::Value& v);
// Jet's ordering of two non-NULL values: <0, 0, >0; mismatched types throw.
int CompareValues(const ado::Value& a, const ado::Value& b);

}  // namespace brenvo::jet
