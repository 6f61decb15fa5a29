// A table or a query read through ODBC.
//
// Reading a whole table streams it: the driver keeps every row of a result
// in memory, so the table is read in slices of ReadSliceRows() rows in
// primary-key order (the order InnoDB's table scan gives anyway), each slice
// starting after the last key of the one before. Memory stays flat however
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
#include "db/odbc/odbc_columns.h"
#include "db/odbc/odbc_params.h"
#include "db/odbc/odbc_session.h"

namespace brenvo::odbc {

size_t ReadSliceRows();
void SetReadSliceRows(size_t rows);  // for tests of the slice edges

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
  void RunSlice(bool first);
  void Fetch();
  void ReadSlice(std::vector<std::vector<ado::Value>>& out);
  void StartPrefetch();
  void JoinPrefetch();
  void NextSlice();
  void RequireOpen() const;

  std::shared_ptr<Session> session_;
  SQLHDBC dbc_;
  StmtHandle stmt_;
  std::vector<Column> cols_;
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
  size_t sliceRows_ = 0;
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
