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
// A transaction (BeginTransaction .. CommitTransaction) changes one table:
// its DeleteAll and the rows inserted after it stay out of the file until
// CommitTransaction, whose table definition rewrite makes all of them the
// file's state at once. Durable points inside it only write pages (memory
// stays bounded; they come every 4 * kDurableRows rows, sooner when the new
// index entries pass 16 MB); RollbackTransaction, a failed commit, Close or a kill
// leave the table as it was before BeginTransaction.
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

// The open transaction of a writer.
struct WriteTransaction {
  bool open = false;
  TableWriter* table = nullptr;  // the one table it changes, once written
};

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
  // A durable point for every table with changes (inside a transaction,
  // its table's new pages are only written).
  void Commit();
  // Commits every table, then opens a transaction. One at a time: a second
  // BeginTransaction, or changes to a second table inside one, are refused.
  void BeginTransaction();
  // Makes the transaction's table the file's state. Throws when that fails
  // (full disk); the table then holds its rows from before the transaction
  // and the transaction is over.
  void CommitTransaction();
  void RollbackTransaction();
  bool InTransaction() const { return txn_.open; }
  // The table the open transaction changes; nullptr before the first change.
  const TableWriter* TransactionTable() const { return txn_.open ? txn_.table : nullptr; }
  // Rolls back an open transaction, commits and releases the file. Errors
  // of the final commit are thrown.
  void Close();
  bool IsOpen() const { return !closed_; }

  // Writes the header's sort order (LCID, version 0) at once, synced.
  void SetSortOrder(uint16_t lcid);

  // Key segments Access already wrote, consulted before the engine's own
  // weights for text in an order other than General: a table's own,
  // learnt before DeleteAll empties it, and what callers add (the source
  // file of a copy). Shared, so a connection can gather them beforehand.
  StoredKeys& Keys() { return *keys_; }
  void UseKeys(std::shared_ptr<StoredKeys> keys);

  // Commits every table (refused inside a transaction), then copies the
  // file as it is on disk to outFd, which must be empty.
  void CopyFileTo(int outFd);

  // For tests of crash and full-disk behaviour: the writer fails as if the
  // disk were full after this many more page writes (once: that write
  // alone fails, as an I/O error would).
  void InjectWriteFailureAfter(long pageWrites, bool once = false);

 private:
  JetWriter() = default;
  std::string path_;
  std::string password_;
  std::unique_ptr<Pager> pager_;
  std::unique_ptr<Database> db_;
  std::vector<std::unique_ptr<TableWriter>> tables_;
  std::shared_ptr<StoredKeys> keys_;
  WriteTransaction txn_;
  bool closed_ = false;
};

class TableWriter {
 public:
  // keys: stored key segments to use and to learn into; keyTag names the
  // table in it (file and table).
  TableWriter(Pager& pager, const Database& db, TableDef def, StoredKeys* keys = nullptr, std::string keyTag = {});
  ~TableWriter();

  const TableDef& Def() const { return def_; }
  // The table's name in the catalogue (the page number for one it lacks).
  const std::string& Name() const { return name_; }
  uint32_t RowCount() const { return rowCount_; }
  void UseKeys(StoredKeys* keys) { keys_ = keys; }

  // Deletes every row, its index entries and long values; durable at once
  // (inside a transaction: at its commit).
  void DeleteAll();
  // Appends one row. values: one per column in table order (Def().columns);
  // nullopt leaves the column unset (NULL, or the next AutoNumber).
  void Insert(const std::vector<std::optional<ado::Value>>& values);
  // A durable point for this table (nothing happens without changes);
  // inside a transaction the pages are written, nothing is committed.
  void Commit();
  // The General sort order for this table: every text and memo column
  // labelled General (LCID 1033) and every index over a text column built
  // anew from the rows with General keys, in one durable point. Rows stay
  // as they are. dryRun: only computes the keys, so that a value without a
  // General weight is refused before any table changes.
  void ResortGeneral(bool dryRun);
  // Makes this the open transaction's table (DeleteAll and Insert do it on
  // their own); refused when the transaction already changes another one.
  // Nothing without an open transaction.
  void JoinTransaction();

 private:
  friend class JetWriter;
  bool InTransaction() const { return txn_ && txn_->open && txn_->table == this; }
  bool PrivateFlushDue() const;
  void CommitTransaction();
  // Back to the state the file holds (read again from reader).
  void RollbackTransaction(const Database& reader);
  // An interval's pages inside a transaction: rows and index trees written,
  // the definition untouched.
  void FlushPrivate();
  struct IndexState;
  struct NewTree;
  struct ColumnMap;
  NewTree MergeIndex(IndexState& s);
  // The index takes its new tree (the old tree's pages are the caller's).
  static void AdoptTree(IndexState& s, NewTree& t, bool moreToCome);
  // moreToCome: the interval's durable point, rows of the same copy follow.
  // endTransaction: the commit of this table's transaction.
  void CommitPoint(bool moreToCome, bool endTransaction = false);
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
  std::string name_;
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
  std::vector<std::vector<uint8_t>> textBytes_;  // of the row being inserted, by column
  bool dirty_ = false;
  bool failed_ = false;
  // The transaction: what the file holds, for the rollback and the pages
  // the commit frees.
  WriteTransaction* txn_ = nullptr;
  std::vector<std::vector<uint8_t>> txnDefPages_;
  std::vector<uint32_t> txnMapPages_;
  bool defTouched_ = false;  // the commit began rewriting the definition
  bool globalMapTouched_ = false;
  bool txnCommitted_ = false;
  struct Builders;
  std::unique_ptr<Builders> builders_;
};

}  // namespace brenvo::jet
