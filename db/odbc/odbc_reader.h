// A table or a query read through ODBC.
//
// Reading a whole table streams it: the driver keeps every row of a result
// in memory, so the table is read in slices in primary-key order (the order
// InnoDB's table scan gives anyway), each slice starting after the last key
// of the one before. The first slice has ReadSliceRows() rows, each other
// twice the one before up to about 2 MB of values and at most 50,000 rows
// (fewer round trips to a distant server; three times that from a round
// trip of 20 ms). Memory stays flat however
// large the table is (two slices at most: the one being read and the next,
// which a thread of the record set's own fetches meanwhile). A table without
// a primary key is read in one piece.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "db/ado/recordset.h"
#include "db/odbc/odbc_block.h"
#include "db/odbc/odbc_columns.h"
#include "db/odbc/odbc_params.h"
#include "db/odbc/odbc_session.h"

namespace brenvo::odbc {

size_t ReadSliceRows();
// For tests of the slice edges: below the default, every slice has this many rows.
void SetReadSliceRows(size_t rows);

class OdbcReader : public ado::Recordset, public SessionChild {
 public:
  // A statement's rows (the driver holds them all; for small results).
  static std::unique_ptr<OdbcReader> ForQuery(std::shared_ptr<Session> session, const std::string& sql);
  // A table's rows in slices.
  static std::unique_ptr<OdbcReader> ForTable(std::shared_ptr<Session> session, const std::string& table);
  ~OdbcReader() override;
  void Detach() override;
  void WaitIdle() override { JoinPrefetch(); }

  int State() const override { return open_ ? ado::adStateOpen : ado::adStateClosed; }
  void Close() override;
  bool Eof() const override;
  void MoveNext() override;
  void MoveFirst() override;
  int FieldCount() const override { return static_cast<int>(cols_.size()); }
  const ado::FieldInfo& Field(int i) const override;
  const ado::Value& GetValue(int i) const override;
  void AddNew() override;
  void SetValue(int i, ado::Value v) override;
  void Update() override;

 private:
  explicit OdbcReader(std::shared_ptr<Session> session);
  void Start();
  SQLHSTMT RunSlice(bool first);
  void Fetch();
  // Every row of s, the slice's statement just run (run again by RunSlice(first) if need be).
  size_t ReadSlice(bool first, SQLHSTMT s, std::vector<std::vector<ado::Value>>& out);  // bytes of values read
  void StartPrefetch();
  void JoinPrefetch();
  void NextSlice();
  void PlanNextSlice(size_t bytes);
  void RequireOpen() const;

  std::shared_ptr<Session> session_;
  SQLHDBC dbc_;
  StmtHandle stmt_;
  std::vector<Column> cols_;
  std::unique_ptr<BlockFetch> block_;  // how slices are read, unless a value is too long for it
  std::vector<ado::Value> row_;
  bool eof_ = true;
  bool open_ = true;

  // Slicing; sql_ alone when the whole result is read at once.
  std::string sql_;
  bool sliced_ = false;
  std::string nextSql_;
  std::vector<int> keyCols_;        // positions of the key columns in cols_
  std::vector<int> keyParamOrder_;  // which key each parameter of nextSql_ takes
  std::vector<ado::Value> lastKey_;
  std::vector<ParamBuffer> keyParams_;
  size_t sliceRows_ = 0;  // of the first slice
  size_t sliceScale_ = 1;  // of the later slices' limits, by the round trip
  size_t curRows_ = 0;    // asked for in the slice being read
  size_t nextRows_ = 0;   // asked for in the next
  size_t nextBytes_ = 0;  // of the values of the next, once read
  SQLINTEGER limitParam_ = 0;
  StmtHandle nextStmt_;   // nextSql_, prepared; its last parameter is the slice's rows
  std::string table_;
  std::vector<std::string> keyNames_;
  std::vector<std::vector<ado::Value>> slice_;  // the slice being read, pos_ its current row
  size_t pos_ = 0;
  std::vector<std::vector<ado::Value>> next_;  // the one after it, filled by prefetch_
  std::exception_ptr nextError_;
  std::thread prefetch_;
  bool prefetching_ = false;
};

}  // namespace brenvo::odbc
