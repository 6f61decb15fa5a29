// The record-set layer: a small Connection / Recordset interface in ADO's
// shape, implemented by the Jet engine (db/jet) and the ODBC side (db/odbc).
// The transfer code sees only this, so each direction runs the same loop.
//
// Failures are BrenvoError exceptions carrying the provider's number and
// description, with the provider as source.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/ado/value.h"

namespace brenvo::ado {

struct FieldInfo {
  std::string name;
  DataType type = adEmpty;
  long definedSize = 0;  // Text: characters (Jet) or the column size (ODBC)
  int precision = 0;
  int scale = 0;
  bool nullable = true;
};

enum class OpenMode {
  Read,    // forward-only reading of the whole table
  Append,  // AddNew / SetValue / Update, one row per Update
};

// ADO's CursorLocationEnum.
enum CursorLocation : int { adUseServer = 2, adUseClient = 3 };

class Recordset {
 public:
  virtual ~Recordset() = default;

  virtual int State() const = 0;  // adStateOpen or adStateClosed
  virtual void Close() = 0;

  // Reading. Eof() is true before the first MoveNext past the last row and
  // at once for an empty result.
  virtual bool Eof() const = 0;
  virtual void MoveNext() = 0;
  virtual void MoveFirst() = 0;

  virtual int FieldCount() const = 0;
  virtual const FieldInfo& Field(int i) const = 0;
  // The current row's value of field i (Null for NULL).
  virtual const Value& GetValue(int i) const = 0;

  // Appending (OpenMode::Append only): AddNew starts a row with every field
  // NULL, SetValue fills by position, Update stores it or throws and leaves
  // the row not stored.
  virtual void AddNew() = 0;
  virtual void SetValue(int i, Value v) = 0;
  virtual void Update() = 0;

  // Batched appending, where a provider can store many rows in one
  // statement (the ODBC side can; the others ignore it and store each row at
  // its Update). With rows > 1, Update queues the row, and the queued rows
  // are stored together once that many are queued, and at Flush and Close.
  // Every row still succeeds or fails on its own: when the server refuses a
  // batch, its rows are stored again one by one. Flush stores what is queued
  // and hands back the rows refused since the last Flush, numbered from 0 by
  // their Update call since the record set was opened. Close stores what is
  // queued but cannot report refusals: call Flush first.
  struct RowFailure {
    long long row = 0;
    long number = 0;
    std::string description;
  };
  virtual void SetBatchRows(int rows) { (void)rows; }
  virtual std::vector<RowFailure> Flush() { return {}; }
};

class Connection {
 public:
  virtual ~Connection() = default;

  // Settings that ADO takes before Open; providers use what applies to them.
  void SetConnectionTimeout(int seconds) { connectionTimeout_ = seconds; }
  int ConnectionTimeout() const { return connectionTimeout_; }
  void SetCursorLocation(CursorLocation c) { cursorLocation_ = c; }
  CursorLocation GetCursorLocation() const { return cursorLocation_; }

  virtual void Open(const std::string& connectionString) = 0;
  virtual int State() const = 0;
  virtual void Close() = 0;

  // A statement without a result set (DELETE, UPDATE, ...). Returns the
  // number of rows affected when the provider knows it.
  virtual long long Execute(const std::string& sql) = 0;
  // A statement with a result set, opened for reading.
  virtual std::unique_ptr<Recordset> OpenQuery(const std::string& sql) = 0;
  // A whole table by name.
  virtual std::unique_ptr<Recordset> OpenTable(const std::string& table, OpenMode mode) = 0;
  // Told that many rows are about to be appended over the open connection:
  // a provider may open ahead what that will take (the ODBC one, the side
  // connections batches go over), while the caller does other work.
  virtual void WillAppend() {}
  // The server the open connection reached, as the provider names it (ADO's
  // "Server Name" property); "" where a provider has no server.
  virtual std::string ServerName() const { return {}; }

  // A unit of work over the connection, as ADO names it: what is done between
  // BeginTrans and CommitTrans becomes the stored state together or, after
  // RollbackTrans (or a failure or kill before the commit), not at all.
  // Providers that cannot keep that promise refuse BeginTrans.
  virtual void BeginTrans();
  virtual void CommitTrans();
  virtual void RollbackTrans();

  // Index keys in a text sort order the provider writes only in part (the
  // Jet engine: the Korean order, whose weights are known for some
  // characters only). Providers without such orders keep the defaults.
  struct SortedTextColumn {
    std::string index;
    std::string column;
    std::string order;  // the order's name, for the log
  };
  // The text columns of the table's indexes in such an order.
  virtual std::vector<SortedTextColumn> PartlyKeyedTextColumns(const std::string& table) {
    (void)table;
    return {};
  }
  // Gathers the keys the tables' own rows carry (before they are deleted)
  // and, when other is a connection of the same provider, the keys its
  // database carries for them, so that values seen there key as they did.
  virtual void GatherStoredKeys(const std::vector<std::string>& tables, Connection* other) {
    (void)tables;
    (void)other;
  }
  // Whether a text value gets a key in that column's indexes.
  virtual bool CanKeyText(const std::string& table, const std::string& column, const std::string& text) {
    (void)table;
    (void)column;
    (void)text;
    return true;
  }
  // Rewrites the database so that every text index uses the General order
  // (reopening it); refused by providers that have no such thing.
  virtual void ResortGeneral();

 private:
  int connectionTimeout_ = 15;
  CursorLocation cursorLocation_ = adUseServer;
};

// Closes the object if it is open and releases it; nothing when already released.
template <typename T>
void CloseADO(std::unique_ptr<T>& object) {
  if (!object) return;
  if (object->State() == adStateOpen) object->Close();
  object.reset();
}

// Opens a connection by its connection string: "Provider=Microsoft.Jet.OLEDB.4.0;..."
// goes to the Jet engine, "DSN=..." or "Driver=..." to ODBC.
std::unique_ptr<Connection> CreateConnection(const std::string& connectionString);

// Connection strings are "key=value;key=value"; keys are case-insensitive.
std::optional<std::string> ConnectionStringValue(const std::string& connectionString, const std::string& key);

}  // namespace brenvo::ado
