// The Jet engine behind the record-set interface: a connection is an open
// Database (shared with the record sets it opened, so a record set stays
// readable until it is closed), record sets are Query cursors.
#include "db/jet/jet_connection.h"

#include "db/jet/jet_append.h"
#include "db/jet/index_key.h"
#include "db/jet/jet_errors.h"
#include "db/jet/query.h"
#include "db/jet/resort.h"
#include "db/jet/stored_keys.h"
#include "db/jet/writer.h"

namespace brenvo::jet {
namespace {

constexpr const char* kAdoConnection = "ADODB.Connection";
constexpr const char* kAdoRecordset = "ADODB.Recordset";

[[noreturn]] void ThrowClosed(const char* source) {
  throw BrenvoError(kErrObjectClosed, "Operation is not allowed when the object is closed.", source);
}

class JetRecordset : public ado::Recordset {
 public:
  explicit JetRecordset(std::unique_ptr<Query> q) : query_(std::move(q)) { Fetch(); }

  int State() const override { return query_ ? ado::adStateOpen : ado::adStateClosed; }
  void Close() override {
    if (!query_) ThrowClosed(kAdoRecordset);
    query_.reset();
    values_.clear();
  }
  bool Eof() const override {
    Need();
    return eof_;
  }
  void MoveNext() override {
    Need();
    if (eof_) NoCurrent();
    Fetch();
  }
  void MoveFirst() override {
    Need();
    query_->Rewind();
    Fetch();
  }
  int FieldCount() const override {
    Need();
    return static_cast<int>(query_->Fields().size());
  }
  const ado::FieldInfo& Field(int i) const override {
    Need();
    if (i < 0 || i >= FieldCount())
      throw BrenvoError(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.",
                        kAdoRecordset);
    return query_->Fields()[static_cast<size_t>(i)];
  }
  const ado::Value& GetValue(int i) const override {
    Field(i);
    if (eof_) NoCurrent();
    return values_[static_cast<size_t>(i)];
  }
  void AddNew() override { ReadOnly(); }
  void SetValue(int, ado::Value) override { ReadOnly(); }
  void Update() override { ReadOnly(); }

 private:
  void Need() const {
    if (!query_) ThrowClosed(kAdoRecordset);
  }
  [[noreturn]] static void NoCurrent() {
    throw BrenvoError(kErrNoCurrentRecord,
                      "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
                      "requires a current record.",
                      kAdoRecordset);
  }
  [[noreturn]] static void ReadOnly() {
    throw BrenvoError(kErrNotCapable,
                      "Current Recordset does not support updating. This may be a limitation of the provider, or of "
                      "the selected locktype.",
                      kAdoRecordset);
  }
  void Fetch() { eof_ = !query_->Next(values_); }

  std::unique_ptr<Query> query_;
  std::vector<ado::Value> values_;
  bool eof_ = true;
};

class JetConnection : public ado::Connection {
 public:
  JetConnection() : keys_(std::make_shared<StoredKeys>()) {}

  void Open(const std::string& connectionString) override {
    if (db_) throw BrenvoError(kErrObjectOpen, "Operation is not allowed when the object is open.", kAdoConnection);
    std::string path = ado::ConnectionStringValue(connectionString, "Data Source").value_or("");
    std::string password = ado::ConnectionStringValue(connectionString, "Jet OLEDB:Database Password").value_or("");
    if (path.empty()) ThrowFileNotFound(path);
    db_ = Database::Open(path, password);
    path_ = path;
    password_ = password;
  }
  int State() const override { return db_ ? ado::adStateOpen : ado::adStateClosed; }
  // A transaction changes one table (the copy run replaces one table in
  // each). Reading that table inside it is refused rather than showing the
  // rows the file still holds.
  void BeginTrans() override {
    Need();
    Writer().BeginTransaction();
    db_ = writer_->OpenReader();
  }
  void CommitTrans() override {
    Need();
    if (!writer_ || !writer_->InTransaction()) NoTransaction();
    try {
      writer_->CommitTransaction();
    } catch (...) {
      db_ = writer_->OpenReader();
      throw;
    }
    db_ = writer_->OpenReader();
  }
  void RollbackTrans() override {
    Need();
    if (!writer_ || !writer_->InTransaction()) NoTransaction();
    writer_->RollbackTransaction();
    db_ = writer_->OpenReader();
  }

  void CopyFileTo(int outFd) {
    Need();
    Writer().CopyFileTo(outFd);
  }

  void Close() override {
    if (!db_) ThrowClosed(kAdoConnection);
    db_.reset();
    if (writer_) {
      auto w = std::move(writer_);
      w->Close();
    }
  }

  long long Execute(const std::string& text) override {
    Need();
    sql::Statement st = sql::Parse(text);
    if (auto sel = std::get_if<sql::SelectStatement>(&st)) RefuseChanging(sel->table);
    Refresh();
    if (std::holds_alternative<sql::DeleteStatement>(st)) {
      const auto& del = std::get<sql::DeleteStatement>(st);
      db_->Table(del.table);
      if (del.where) ThrowNotCapable("Deleting rows with a WHERE clause is not supported by this Jet engine yet.");
      TableWriter& t = Writer().Table(del.table);
      long long n = t.RowCount();
      t.DeleteAll();
      db_ = writer_->OpenReader();
      return n;
    }
    // A SELECT through Execute is evaluated and its rows discarded, as ADO
    // would hand back a record set the caller does not keep.
    Query q(db_, std::move(std::get<sql::SelectStatement>(st)));
    std::vector<ado::Value> row;
    long long n = 0;
    while (q.Next(row)) ++n;
    return n;
  }

  std::unique_ptr<ado::Recordset> OpenQuery(const std::string& text) override {
    Need();
    sql::Statement st = sql::Parse(text);
    if (!std::holds_alternative<sql::SelectStatement>(st))
      ThrowSyntax("The statement returns no rows; use Execute for '" + text + "'.");
    RefuseChanging(std::get<sql::SelectStatement>(st).table);
    Refresh();
    return std::make_unique<JetRecordset>(
        std::make_unique<Query>(db_, std::move(std::get<sql::SelectStatement>(st))));
  }

  std::vector<SortedTextColumn> PartlyKeyedTextColumns(const std::string& table) override {
    Need();
    std::vector<SortedTextColumn> out;
    const TableDef& t = db_->Table(table);
    for (const auto& l : t.indexes) {
      if (l.realIndex >= t.realIndexes.size()) continue;
      for (const auto& ic : t.realIndexes[l.realIndex].columns) {
        const ColumnDef* c = t.ColumnByNumber(ic.number);
        if (!c || c->type != kColText || ColumnTextOrder(*c) == TextOrder::General) continue;
        out.push_back({l.name, c->name, TextOrderName(c->sortLcid)});
      }
    }
    return out;
  }

  void GatherStoredKeys(const std::vector<std::string>& tables, ado::Connection* other) override {
    Need();
    // Its own rows: read before any write (a writer learns a table's keys
    // itself when it empties it).
    if (!writer_) keys_->LearnFile(path_, password_, tables);
    auto* src = dynamic_cast<JetConnection*>(other);
    if (!src || !src->db_) return;
    std::vector<std::string> present;
    for (const auto& e : src->db_->Catalog())
      for (const auto& t : tables)
        if (e.IsUserTable() && SameName(e.name, t)) present.push_back(e.name);
    if (src->writer_) src->Refresh();
    keys_->LearnFile(src->path_, src->password_, present);
  }

  bool CanKeyText(const std::string& table, const std::string& column, const std::string& text) override {
    Need();
    const TableDef& t = db_->Table(table);
    const ColumnDef* c = t.FindColumn(column);
    if (!c || c->type != kColText) return true;
    TextOrder order = ColumnTextOrder(*c);
    std::vector<uint8_t> seg;
    for (const auto& ri : t.realIndexes)
      for (const auto& ic : ri.columns) {
        if (ic.number != c->number) continue;
        seg.clear();
        if (keys_->Find(order, ic.ascending, text, seg)) continue;
        if (order == TextOrder::Unsupported || !TextKeySegment(order, ic.ascending, text, seg, nullptr)) return false;
      }
    return true;
  }

  // The file is rewritten by a writer of its own: this connection lets go
  // of it meanwhile (no record set of it may be open) and reads it again
  // afterwards.
  void ResortGeneral() override {
    Need();
    if (writer_ && writer_->InTransaction())
      ThrowNotCapable("The sort order cannot be changed inside a transaction.");
    db_.reset();
    if (writer_) {
      auto w = std::move(writer_);
      w->Close();
    }
    try {
      jet::ResortGeneral(path_, password_);
    } catch (...) {
      db_ = Database::Open(path_, password_);
      throw;
    }
    db_ = Database::Open(path_, password_);
    // Keys learnt in the old order describe no index of the file any more.
    keys_ = std::make_shared<StoredKeys>();
  }

  std::unique_ptr<ado::Recordset> OpenTable(const std::string& table, ado::OpenMode mode) override {
    Need();
    if (mode == ado::OpenMode::Append) {
      db_->Table(table);
      TableWriter& t = Writer().Table(table);
      t.JoinTransaction();
      return MakeAppendRecordset(writer_, t);
    }
    RefuseChanging(table);
    Refresh();
    sql::SelectStatement st;
    st.items.emplace_back();
    st.table = table;
    return std::make_unique<JetRecordset>(std::make_unique<Query>(db_, std::move(st)));
  }

 private:
  void Need() const {
    if (!db_) ThrowClosed(kAdoConnection);
  }
  // The first write turns the connection into the file's writer: the
  // shared lock of reading is given up for the writer's exclusive one
  // (refused while a record set of this connection still reads the file).
  JetWriter& Writer() {
    if (!writer_) {
      db_.reset();
      try {
        writer_ = JetWriter::Open(path_, password_);
        writer_->UseKeys(keys_);
      } catch (...) {
        db_ = Database::Open(path_, password_);
        throw;
      }
      db_ = writer_->OpenReader();
    }
    return *writer_;
  }
  // Reads after writes see every row appended so far. Inside a transaction
  // only its own table has changes, and that one is not read.
  void Refresh() {
    if (!writer_ || writer_->InTransaction()) return;
    writer_->Commit();
    db_ = writer_->OpenReader();
  }
  void RefuseChanging(const std::string& table) {
    if (!writer_) return;
    const TableWriter* t = writer_->TransactionTable();
    if (t && SameName(t->Name(), table))
      throw BrenvoError(kErrFail,
                        "The table '" + t->Name() +
                            "' is being changed in an open transaction; commit or roll it back before reading it.",
                        kJetSource);
  }
  [[noreturn]] static void NoTransaction() {
    throw BrenvoError(kErrFail, "No transaction is open on this connection.", kJetSource);
  }
  std::shared_ptr<const Database> db_;
  std::string path_;
  std::string password_;
  std::shared_ptr<JetWriter> writer_;
  std::shared_ptr<StoredKeys> keys_;
};

}  // namespace

std::unique_ptr<ado::Connection> MakeJetConnection() { return std::make_unique<JetConnection>(); }

void CopyOpenFile(ado::Connection& conn, int outFd) {
  auto* jet = dynamic_cast<JetConnection*>(&conn);
  if (!jet) ThrowNotCapable("copying a database file through a connection that is not a Jet connection");
  jet->CopyFileTo(outFd);
}

}  // namespace brenvo::jet
