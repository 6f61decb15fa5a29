// Writing into an existing Jet 4 database: emptying tables and appending
// rows, with every index, usage map, row count and AutoNumber kept.
//
// A JetWriter holds the file exclusively (no reader or writer may have it
// open, see file_lock.h) from Open until Close. Rows are appended in memory
// and on new pages; they become part of the file at a durable point: every
// kDurableRows rows of a table, at Commit (the end of a table's copy), at
// DeleteAll and at Close. A durable point writes the new pages, fresh index
// trees and usage maps, flushes them, then rewrites the table definition,
// which is the single page that makes the new state the file's state.
// Killed at any moment, the file holds exactly the rows of the last durable
// point.
//
// Refused with an error and nothing stored: a value that does not convert to
// the column's type or does not fit it, text longer than the column, NULL
// in a column of a required index (primary key), a duplicate key in a
// unique index, a text key the engine cannot encode, an index in a sort
// order the engine does not write.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/ado/value.h"
#include "db/jet/database.h"

namespace brenvo::jet {

class Pager;
class StoredKeys;
class TableWriter;

class JetWriter {
 public:
  // Rows a table gathers between two durable points.
  static constexpr uint32_t kDurableRows = 20000;

  // Opens path for writing; the errors of Database::Open, plus the provider's
  // "file in use" error when the file is read-only or anyone has it open.
  static std::unique_ptr<JetWriter> Open(const std::string& path, const std::string& password);
  ~JetWriter();

  const Database& Db() const { return *db_; }
  // A reader over the file's state at the last durable point (Commit first
  // to include every row); shares this writer's lock.
  std::shared_ptr<const Database> OpenReader();
  // The table by name (case-insensitive); throws the unknown-table error.
  TableWriter& Table(const std::string& name);
  // The table whose definition starts at page (the catalogue itself while
  // it has no rows naming it).
  TableWriter& TableAtPage(uint32_t page);
  // A durable point for every table with changes.
  void Commit();
  // Commits and releases the file. Errors of the final commit are thrown.
  void Close();
  bool IsOpen() const { return !closed_; }

  // Key segments Access already wrote, consulted before the engine's own
  // weights for text in an order other than General: a table's own,
  // learnt before DeleteAll empties it, and what callers add (the source
  // file of a copy). Shared, so a connection can gather them beforehand.
  StoredKeys& Keys() { return *keys_; }
  void UseKeys(std::shared_ptr<StoredKeys> keys);

  // For tests of crash and full-disk behaviour: the writer fails as if the
  // disk were full after this many more page writes.
  void InjectWriteFailureAfter(long pageWrites);

 private:
  JetWriter() = default;
  std::string path_;
  std::string password_;
  std::unique_ptr<Pager> pager_;
  std::unique_ptr<Database> db_;
  std::vector<std::unique_ptr<TableWriter>> tables_;
  std::shared_ptr<StoredKeys> keys_;
  bool closed_ = false;
};

class TableWriter {
 public:
  // keys: stored key segments to use and to learn into; keyTag names the
  // table in it (file and table).
  TableWriter(Pager& pager, const Database& db, TableDef def, StoredKeys* keys = nullptr, std::string keyTag = {});
  ~TableWriter();

  const TableDef& Def() const { return def_; }
  uint32_t RowCount() const { return rowCount_; }
  void UseKeys(StoredKeys* keys) { keys_ = keys; }

  // Deletes every row, its index entries and long values; durable at once.
  void DeleteAll();
  // Appends one row. values: one per column in table order (Def().columns);
  // nullopt leaves the column unset (NULL, or the next AutoNumber).
  void Insert(const std::vector<std::optional<ado::Value>>& values);
  // A durable point for this table (nothing happens without changes).
  void Commit();

 private:
  struct IndexState;
  struct NewTree;
  struct ColumnMap;
  NewTree MergeIndex(IndexState& s);
  // moreToCome: the interval's durable point, rows of the same copy follow.
  void CommitPoint(bool moreToCome);
  void Load();
  uint32_t LastDataPage() const;
  void CheckWritable(bool forInsert) const;
  void PutRaw32(size_t offset, uint32_t v);
  void PutRaw8(size_t offset, uint8_t v);
  std::vector<uint8_t> WriteLongValue(const std::vector<uint8_t>& bytes, uint16_t column);

  Pager& pager_;
  const Database& db_;
  TableDef def_;
  StoredKeys* keys_ = nullptr;
  std::string keyTag_;
  std::vector<std::vector<uint8_t>> defPages_;
  size_t realIndexDefStart_ = 0;
  std::vector<ColumnMap> columnMaps_;
  std::vector<IndexState> indexes_;
  std::vector<uint32_t> dataPages_;  // pages holding the table's rows
  std::vector<uint32_t> lvalPages_;  // long-value pages with no column map of their own
  std::vector<uint32_t> releaseAtCommit_;
  std::vector<uint32_t> ourMapPages_;
  uint32_t rowCount_ = 0;
  uint32_t autoNumber_ = 0;
  uint32_t sinceDurable_ = 0;
  bool dirty_ = false;
  bool failed_ = false;
  struct Builders;
  std::unique_ptr<Builders> builders_;
};

}  // namespace brenvo::jet
