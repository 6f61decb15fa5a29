#include "db/odbc/odbc_recordset.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "util/error.h"

namespace brenvo::odbc {
namespace {

size_t g_sliceRows = 5000;

// Batches stay well under the server's smallest usual packet limit.
constexpr size_t kMaxBatchBytes = 1 << 20;
// Values longer than this go in a run of their own; the arrays of one run
// never take more than kMaxArrayBytes (else the run goes in halves).
constexpr size_t kWideValue = 2048;
constexpr size_t kMaxArrayBytes = size_t{8} << 20;

constexpr const char* kAdoSource = "ADODB.Recordset";

[[noreturn]] void NoCurrentRecord() {
  throw BrenvoError(3021,
                    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
                    "requires a current record.",
                    kAdoSource);
}

[[noreturn]] void NotSupported() {
  throw BrenvoError(3251, "Current Recordset does not support updating. This may be a limitation of the provider, "
                          "or of the selected locktype.",
                    kAdoSource);
}

[[noreturn]] void Closed() {
  throw BrenvoError(3704, "Operation is not allowed when the object is closed.", kAdoSource);
}

[[noreturn]] void BadIndex() {
  throw BrenvoError(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.",
                    kAdoSource);
}

StmtHandle NewStatement(SQLHDBC dbc) {
  StmtHandle s;
  Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, s.out()), SQL_HANDLE_DBC, dbc, "SQLAllocHandle");
  return s;
}

void ExecDirect(SQLHSTMT stmt, const std::string& sql) {
  std::u16string w = Utf8ToUtf16(sql);
  Check(SQLExecDirectW(stmt, W(w), static_cast<SQLINTEGER>(w.size())), SQL_HANDLE_STMT, stmt, "SQLExecDirect");
}

// The primary-key columns of table, in key order.
std::vector<std::string> PrimaryKey(SQLHDBC dbc, const std::string& table) {
  StmtHandle s = NewStatement(dbc);
  std::u16string t = Utf8ToUtf16(table);
  SQLRETURN rc = SQLPrimaryKeysW(s.get(), nullptr, 0, nullptr, 0, W(t), static_cast<SQLSMALLINT>(t.size()));
  if (!Ok(rc)) return {};
  std::vector<std::pair<int, std::string>> keys;
  while (Ok(SQLFetch(s.get()))) {
    SQLWCHAR name[512];
    SQLLEN len = 0;
    SQLSMALLINT seq = 0;
    SQLLEN seqInd = 0;
    if (!Ok(SQLGetData(s.get(), 4, SQL_C_WCHAR, name, sizeof name, &len)) || len == SQL_NULL_DATA) continue;
    SQLGetData(s.get(), 5, SQL_C_SSHORT, &seq, sizeof seq, &seqInd);
    size_t chars = std::min<size_t>(static_cast<size_t>(len) / sizeof(SQLWCHAR), std::size(name) - 1);
    keys.emplace_back(seq, Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(name), chars)));
  }
  std::sort(keys.begin(), keys.end());
  std::vector<std::string> out;
  for (auto& k : keys) out.push_back(std::move(k.second));
  return out;
}

}  // namespace

size_t ReadSliceRows() { return g_sliceRows; }
void SetReadSliceRows(size_t rows) { g_sliceRows = std::max<size_t>(rows, 1); }

std::string QuoteName(const std::string& name) {
  std::string out = "`";
  for (char c : name) {
    if (c == '`') out += '`';
    out += c;
  }
  return out + "`";
}

// ---- reading ----

OdbcReader::OdbcReader(std::shared_ptr<Session> session) : session_(std::move(session)), dbc_(session_->handle()) {
  session_->Add(this);
}

// A reader whose start failed, or that was closed, is still on the
// session's list until it is gone: never leave a dangling entry there.
OdbcReader::~OdbcReader() {
  JoinPrefetch();
  if (open_) session_->WaitIdle();
  session_->Remove(this);
}

void OdbcReader::Detach() {
  JoinPrefetch();
  stmt_.reset();
  open_ = false;
}

std::unique_ptr<OdbcReader> OdbcReader::ForQuery(std::shared_ptr<Session> session, const std::string& sql) {
  std::unique_ptr<OdbcReader> r(new OdbcReader(std::move(session)));
  r->sql_ = sql;
  r->Start();
  return r;
}

std::unique_ptr<OdbcReader> OdbcReader::ForTable(std::shared_ptr<Session> session, const std::string& table) {
  std::unique_ptr<OdbcReader> r(new OdbcReader(std::move(session)));
  const std::string from = "SELECT * FROM " + QuoteName(table);
  r->session_->WaitIdle();
  std::vector<std::string> key = PrimaryKey(r->dbc_, table);
  if (key.empty()) {
    r->sql_ = from;
    r->Start();
    return r;
  }
  r->sliced_ = true;
  r->sliceRows_ = ReadSliceRows();
  std::string order;
  for (const auto& k : key) order += (order.empty() ? "" : ", ") + QuoteName(k);
  const std::string limit = " ORDER BY " + order + " LIMIT " + std::to_string(r->sliceRows_);
  r->sql_ = from + limit;
  // After (k1, k2, ...): k1 > ? OR (k1 = ? AND k2 > ?) OR ...; spelt out,
  // since the optimiser turns this form into a range on the key.
  std::string where;
  for (size_t i = 0; i < key.size(); ++i) {
    std::string term;
    for (size_t j = 0; j < i; ++j) {
      term += QuoteName(key[j]) + " = ? AND ";
      r->keyParamOrder_.push_back(static_cast<int>(j));
    }
    term += QuoteName(key[i]) + " > ?";
    r->keyParamOrder_.push_back(static_cast<int>(i));
    where += (where.empty() ? "(" : " OR (") + term + ")";
  }
  r->nextSql_ = from + " WHERE " + where + limit;
  r->keyNames_ = std::move(key);
  r->table_ = table;
  r->Start();
  return r;
}

void OdbcReader::Start() {
  session_->WaitIdle();
  RunSlice(true);
  if (cols_.empty()) {
    cols_ = DescribeColumns(stmt_.get());
    row_.assign(cols_.size(), ado::Null{});
    for (const auto& k : keyNames_) {
      auto it = std::find_if(cols_.begin(), cols_.end(), [&](const Column& c) { return c.info.name == k; });
      if (it == cols_.end()) throw BrenvoError(kProviderError, "Key column " + k + " not in " + table_, kProviderSource);
      keyCols_.push_back(static_cast<int>(it - cols_.begin()));
    }
  }
  if (!sliced_) {
    Fetch();
    return;
  }
  slice_.clear();
  ReadSlice(slice_);
  pos_ = 0;
  eof_ = slice_.empty();
  if (slice_.size() == sliceRows_) StartPrefetch();
}

void OdbcReader::RunSlice(bool first) {
  stmt_ = NewStatement(dbc_);
  if (first) {
    ExecDirect(stmt_.get(), sql_);
    return;
  }
  std::u16string w = Utf8ToUtf16(nextSql_);
  Check(SQLPrepareW(stmt_.get(), W(w), static_cast<SQLINTEGER>(w.size())), SQL_HANDLE_STMT, stmt_.get(), "SQLPrepare");
  keyParams_.assign(keyParamOrder_.size(), ParamBuffer{});
  for (size_t p = 0; p < keyParamOrder_.size(); ++p) {
    const int k = keyParamOrder_[p];
    BindValue(stmt_.get(), static_cast<SQLUSMALLINT>(p + 1), lastKey_[static_cast<size_t>(k)],
              cols_[static_cast<size_t>(keyCols_[static_cast<size_t>(k)])], keyParams_[p]);
  }
  Check(SQLExecute(stmt_.get()), SQL_HANDLE_STMT, stmt_.get(), "SQLExecute");
}

void OdbcReader::Fetch() {
  SQLRETURN rc = SQLFetch(stmt_.get());
  if (rc == SQL_NO_DATA) {
    eof_ = true;
    stmt_.reset();
    return;
  }
  Check(rc, SQL_HANDLE_STMT, stmt_.get(), "SQLFetch");
  for (size_t i = 0; i < cols_.size(); ++i) row_[i] = ReadValue(stmt_.get(), static_cast<int>(i), cols_[i]);
  eof_ = false;
}

void OdbcReader::ReadSlice(std::vector<std::vector<ado::Value>>& out) {
  for (;;) {
    SQLRETURN rc = SQLFetch(stmt_.get());
    if (rc == SQL_NO_DATA) break;
    Check(rc, SQL_HANDLE_STMT, stmt_.get(), "SQLFetch");
    std::vector<ado::Value>& row = out.emplace_back(cols_.size());
    for (size_t i = 0; i < cols_.size(); ++i) row[i] = ReadValue(stmt_.get(), static_cast<int>(i), cols_[i]);
  }
  stmt_.reset();
  if (!out.empty()) {
    lastKey_.resize(keyCols_.size());
    for (size_t k = 0; k < keyCols_.size(); ++k) lastKey_[k] = out.back()[static_cast<size_t>(keyCols_[k])];
  }
}

// The next slice is read by a thread of its own while the caller works
// through this one. It is started only from the caller's thread, after every
// other record set of the connection is idle, and WaitIdle joins it: so the
// connection is never used from two threads at once.
void OdbcReader::StartPrefetch() {
  next_.clear();
  nextError_ = nullptr;
  prefetch_ = std::thread([this] {
    try {
      RunSlice(false);
      ReadSlice(next_);
    } catch (...) {
      stmt_.reset();
      next_.clear();
      nextError_ = std::current_exception();
    }
  });
  prefetching_ = true;
}

void OdbcReader::JoinPrefetch() {
  if (prefetch_.joinable()) prefetch_.join();
}

void OdbcReader::NextSlice() {
  JoinPrefetch();
  if (!prefetching_) {
    eof_ = true;
    return;
  }
  // A failed read is reported here, and again at every later attempt: the
  // record set never moves past the rows it really read.
  if (nextError_) std::rethrow_exception(nextError_);
  prefetching_ = false;
  slice_.swap(next_);
  next_.clear();
  pos_ = 0;
  eof_ = slice_.empty();
  if (slice_.size() == sliceRows_) {
    session_->WaitIdle();
    StartPrefetch();
  }
}

void OdbcReader::Close() {
  RequireOpen();
  session_->WaitIdle();
  session_->Remove(this);
  Detach();
}

bool OdbcReader::Eof() const {
  RequireOpen();
  return eof_;
}

void OdbcReader::MoveNext() {
  RequireOpen();
  if (eof_) NoCurrentRecord();
  if (sliced_) {
    if (pos_ + 1 < slice_.size()) {
      ++pos_;
      return;
    }
    NextSlice();
    return;
  }
  session_->WaitIdle();
  Fetch();
}

void OdbcReader::MoveFirst() {
  RequireOpen();
  JoinPrefetch();
  prefetching_ = false;
  nextError_ = nullptr;
  session_->WaitIdle();
  lastKey_.clear();
  Start();
}

const ado::FieldInfo& OdbcReader::Field(int i) const {
  if (i < 0 || i >= FieldCount()) BadIndex();
  return cols_[static_cast<size_t>(i)].info;
}

const ado::Value& OdbcReader::GetValue(int i) const {
  RequireOpen();
  if (i < 0 || i >= FieldCount()) BadIndex();
  if (eof_) NoCurrentRecord();
  if (sliced_) return slice_[pos_][static_cast<size_t>(i)];
  return row_[static_cast<size_t>(i)];
}

void OdbcReader::AddNew() { NotSupported(); }
void OdbcReader::SetValue(int, ado::Value) { NotSupported(); }
void OdbcReader::Update() { NotSupported(); }

void OdbcReader::RequireOpen() const {
  if (!open_) Closed();
}

// ---- appending ----

namespace {

// The first column of every row of sql, whose one parameter is table.
std::vector<std::string> TableTexts(SQLHDBC dbc, const char* sql, const std::string& table) {
  StmtHandle q = NewStatement(dbc);
  std::u16string w = Utf8ToUtf16(sql);
  Check(SQLPrepareW(q.get(), W(w), static_cast<SQLINTEGER>(w.size())), SQL_HANDLE_STMT, q.get(), "SQLPrepare");
  ParamBuffer name;
  Column text;
  text.info.type = ado::adVarChar;
  BindValue(q.get(), 1, ado::Value(table), text, name);
  Check(SQLExecute(q.get()), SQL_HANDLE_STMT, q.get(), "SQLExecute");
  std::vector<std::string> out;
  while (Ok(SQLFetch(q.get()))) {
    const ado::Value v = ReadValue(q.get(), 0, text);
    if (const auto* t = std::get_if<std::string>(&v)) out.push_back(*t);
  }
  return out;
}

}  // namespace

OdbcAppender::OdbcAppender(std::shared_ptr<Session> session, std::string table)
    : session_(std::move(session)), dbc_(session_->handle()), table_(std::move(table)) {
  session_->WaitIdle();
  StmtHandle s = NewStatement(dbc_);
  ExecDirect(s.get(), "SELECT * FROM " + QuoteName(table_) + " LIMIT 0");
  cols_ = DescribeColumns(s.get());
  row_.assign(cols_.size(), ado::Null{});
  set_.assign(cols_.size(), false);

  // Batches rely on a refused statement storing nothing, which holds for
  // InnoDB; and the literals must be written the way the session reads them.
  {
    const auto engine = TableTexts(
        dbc_, "SELECT ENGINE FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = ?",
        table_);
    canBatch_ = !engine.empty() && engine[0] == "InnoDB";
  }
  {
    StmtHandle q = NewStatement(dbc_);
    ExecDirect(q.get(), "SELECT @@SESSION.sql_mode");
    Column text;
    text.info.type = ado::adVarChar;
    if (Ok(SQLFetch(q.get()))) {
      const ado::Value mode = ReadValue(q.get(), 0, text);
      noBackslashEscapes_ = std::holds_alternative<std::string>(mode) &&
                            std::get<std::string>(mode).find("NO_BACKSLASH_ESCAPES") != std::string::npos;
    }
  }
  // Columns whose default is NULL: leaving one unset stores what a NULL
  // stores, so rows that leave out different ones of these (a copy leaves
  // NULLs unset) still share one array statement.
  nullDefault_.assign(cols_.size(), false);
  if (canBatch_) {
    for (const auto& name : TableTexts(dbc_,
                                       "SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = "
                                       "DATABASE() AND TABLE_NAME = ? AND IS_NULLABLE = 'YES' AND (COLUMN_DEFAULT IS "
                                       "NULL OR COLUMN_DEFAULT = 'NULL') AND EXTRA = ''",
                                       table_)) {
      for (size_t i = 0; i < cols_.size(); ++i)
        if (cols_[i].info.name == name) nullDefault_[i] = true;
    }
  }
  std::string names;
  for (const auto& c : cols_) names += (names.empty() ? "" : ", ") + QuoteName(c.info.name);
  batchHead_ = "INSERT INTO " + QuoteName(table_) + " (" + names + ") VALUES ";
  // Only a record set that came up whole goes on the session's list.
  session_->Add(this);
}

// "INSERT INTO t (the columns set) VALUES (?, ...)"
std::string OdbcAppender::InsertSql(const std::vector<bool>& set) const {
  std::string names, marks;
  for (size_t i = 0; i < cols_.size(); ++i) {
    if (!set[i]) continue;
    names += (names.empty() ? "" : ", ") + QuoteName(cols_[i].info.name);
    marks += marks.empty() ? "?" : ", ?";
  }
  return "INSERT INTO " + QuoteName(table_) + " (" + names + ") VALUES (" + marks + ")";
}

SQLHSTMT OdbcAppender::StatementFor(const std::vector<bool>& set) {
  auto it = inserts_.find(set);
  if (it != inserts_.end()) return it->second.get();
  StmtHandle s = NewStatement(dbc_);
  std::u16string w = Utf8ToUtf16(InsertSql(set));
  Check(SQLPrepareW(s.get(), W(w), static_cast<SQLINTEGER>(w.size())), SQL_HANDLE_STMT, s.get(), "SQLPrepare");
  SQLHSTMT h = s.get();
  inserts_.emplace(set, std::move(s));
  return h;
}

void OdbcAppender::AddNew() {
  RequireOpen();
  std::fill(row_.begin(), row_.end(), ado::Value(ado::Null{}));
  std::fill(set_.begin(), set_.end(), false);
  pending_ = true;
}

void OdbcAppender::SetValue(int i, ado::Value v) {
  RequireOpen();
  if (i < 0 || i >= FieldCount()) BadIndex();
  if (!pending_) NoCurrentRecord();
  row_[static_cast<size_t>(i)] = std::move(v);
  set_[static_cast<size_t>(i)] = true;
}

void OdbcAppender::StoreOne(const std::vector<ado::Value>& values, const std::vector<bool>& set) {
  SQLHSTMT s = StatementFor(set);
  params_.resize(cols_.size());
  SQLUSMALLINT n = 0;
  for (size_t i = 0; i < cols_.size(); ++i) {
    if (!set[i]) continue;
    ++n;
    BindValue(s, n, values[i], cols_[i], params_[n - 1]);
  }
  Check(SQLExecute(s), SQL_HANDLE_STMT, s, "SQLExecute");
}

void OdbcAppender::Update() {
  RequireOpen();
  if (!pending_) NoCurrentRecord();
  // The row is done with whether or not the server takes it: a failed row
  // is not stored and does not come back with the next one.
  pending_ = false;
  const long long index = updates_++;
  if (batchRows_ <= 1) {
    session_->WaitIdle();
    StoreOne(row_, set_);
    return;
  }
  // Statements stay well under the server's smallest usual packet limit.
  size_t bytes = 16;
  for (size_t i = 0; i < cols_.size(); ++i) {
    const ado::Value& v = row_[i];
    if (const auto* t = std::get_if<std::string>(&v)) bytes += 2 * t->size() + 4;
    else if (const auto* by = std::get_if<ado::Bytes>(&v)) bytes += 2 * by->size() + 4;
    else bytes += 24;
  }
  if (!queue_.empty() && queuedBytes_ + bytes > kMaxBatchBytes) StoreBatch();
  queuedBytes_ += bytes;
  queue_.push_back({std::move(row_), set_, index});
  row_.assign(cols_.size(), ado::Null{});
  if (queue_.size() >= batchRows_) StoreBatch();
}

bool OdbcAppender::Exec(const std::string& sql) {
  try {
    StmtHandle st = NewStatement(dbc_);
    ExecDirect(st.get(), sql);
    return true;
  } catch (...) {
    return false;
  }
}

void OdbcAppender::Replay(const std::vector<Queued>& rows, size_t from, size_t to,
                          std::vector<RowFailure>& refused) {
  for (size_t r = from; r < to; ++r) {
    const Queued& q = rows[r];
    try {
      StoreOne(q.values, q.set);
    } catch (const BrenvoError& e) {
      refused.push_back({q.index, e.number(), e.description()});
    } catch (...) {
      const ErrorInfo e = DescribeCurrentException();
      refused.push_back({q.index, e.number, e.description});
    }
  }
}

namespace {

// How one column of a batch is bound: every value of the column (NULLs
// aside) has to share one C type.
enum class Kind { None, Int, Double, Float, Text, Bytes, Mixed };

Kind KindOf(const ado::Value& v) {
  if (ado::IsNull(v)) return Kind::None;
  if (std::holds_alternative<bool>(v) || std::holds_alternative<int64_t>(v)) return Kind::Int;
  if (std::holds_alternative<double>(v)) return Kind::Double;
  if (std::holds_alternative<float>(v)) return Kind::Float;
  if (std::holds_alternative<ado::Bytes>(v)) return Kind::Bytes;
  return Kind::Text;
}

struct ArrayColumn {
  Kind kind = Kind::None;
  size_t width = 0;  // bytes of one element
  std::vector<std::string> texts;
  std::vector<char> data;
  std::vector<SQLLEN> ind;
};

}  // namespace

struct OdbcAppender::Run {
  std::vector<Queued> rows;
  ArrayResult built = ArrayResult::NotSuitable;  // Stored: the arrays below are ready
  std::vector<bool> set;                         // the columns the statement names
  std::vector<ArrayColumn> cols;
  std::vector<size_t> colIndex;  // cols_ position of each array
};

// The arrays of one run, bound column-wise: each column's values side by
// side in elements of its widest value, with a length or NULL per row.
// Plain work on the values, done on the caller's thread while the sender is
// still busy with the batch before, so that the server waits for nothing.
OdbcAppender::ArrayResult OdbcAppender::BuildArrays(Run& run) const {
  const std::vector<Queued>& rows = run.rows;
  const size_t n = rows.size();
  // An unset column is a NULL (its value in the queue) where that is its default.
  auto filled = [&](const std::vector<bool>& s) {
    std::vector<bool> f = s;
    for (size_t i = 0; i < f.size(); ++i) f[i] = f[i] || nullDefault_[i];
    return f;
  };
  run.set = filled(rows.front().set);
  const std::vector<bool>& set = run.set;
  for (const auto& q : rows)
    if (q.set != rows.front().set && filled(q.set) != set) return ArrayResult::NotSuitable;
  std::vector<ArrayColumn>& cols = run.cols;
  std::vector<size_t>& colIndex = run.colIndex;
  cols.clear();
  colIndex.clear();
  size_t total = 0;
  for (size_t i = 0; i < cols_.size(); ++i) {
    if (!set[i]) continue;
    ArrayColumn c;
    for (const auto& q : rows) {
      const Kind k = KindOf(q.values[i]);
      if (k == Kind::None || k == c.kind) continue;
      c.kind = c.kind == Kind::None ? k : Kind::Mixed;
    }
    if (c.kind == Kind::Mixed) return ArrayResult::NotSuitable;
    if (c.kind == Kind::None) c.kind = Kind::Text;  // all NULL
    c.ind.assign(n, 0);
    if (c.kind == Kind::Text || c.kind == Kind::Bytes) {
      c.texts.resize(n);
      for (size_t r = 0; r < n; ++r) {
        const ado::Value& v = rows[r].values[i];
        if (ado::IsNull(v)) continue;
        if (const auto* by = std::get_if<ado::Bytes>(&v)) c.texts[r].assign(by->begin(), by->end());
        else TextForm(v, cols_[i], c.texts[r]);
        c.width = std::max(c.width, c.texts[r].size());
      }
      c.width = std::max<size_t>(c.width, 1);
    } else {
      c.width = 8;
    }
    total += c.width * n;
    if (total > kMaxArrayBytes && n > 1) return ArrayResult::TooWide;
    cols.push_back(std::move(c));
    colIndex.push_back(i);
  }
  if (cols.empty()) return ArrayResult::NotSuitable;

  for (size_t c = 0; c < cols.size(); ++c) {
    ArrayColumn& col = cols[c];
    col.data.assign(col.width * n, 0);
    for (size_t r = 0; r < n; ++r) {
      const ado::Value& v = rows[r].values[colIndex[c]];
      char* at = col.data.data() + r * col.width;
      if (ado::IsNull(v)) {
        col.ind[r] = SQL_NULL_DATA;
      } else if (col.kind == Kind::Int) {
        const int64_t x = std::holds_alternative<bool>(v) ? (std::get<bool>(v) ? 1 : 0) : std::get<int64_t>(v);
        std::memcpy(at, &x, sizeof x);
      } else if (col.kind == Kind::Double) {
        std::memcpy(at, &std::get<double>(v), sizeof(double));
      } else if (col.kind == Kind::Float) {
        std::memcpy(at, &std::get<float>(v), sizeof(float));
      } else {
        std::memcpy(at, col.texts[r].data(), col.texts[r].size());
        col.ind[r] = static_cast<SQLLEN>(col.texts[r].size());
      }
    }
    col.texts.clear();
  }

  return ArrayResult::Stored;
}

OdbcAppender::ArrayResult OdbcAppender::ExecArrays(Run& run, bool chain) {
  const size_t n = run.rows.size();
  const std::vector<bool>& set = run.set;
  const std::vector<ArrayColumn>& cols = run.cols;
  SQLHSTMT s;
  auto it = arrayInserts_.find(set);
  if (it != arrayInserts_.end()) {
    s = it->second.get();
  } else {
    StmtHandle h = NewStatement(dbc_);
    std::u16string w = Utf8ToUtf16(InsertSql(set));
    if (!Ok(SQLPrepareW(h.get(), W(w), static_cast<SQLINTEGER>(w.size())))) {
      EndChain();
      return ArrayResult::NotSuitable;
    }
    s = h.get();
    arrayInserts_.emplace(set, std::move(h));
  }

  std::vector<SQLUSMALLINT> status(n, SQL_PARAM_UNUSED);
  SQLULEN processed = 0;
  bool bound = Ok(SQLSetStmtAttr(s, SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0)) &&
               Ok(SQLSetStmtAttr(s, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(n), 0)) &&
               Ok(SQLSetStmtAttr(s, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0)) &&
               Ok(SQLSetStmtAttr(s, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0));
  for (size_t c = 0; c < cols.size() && bound; ++c) {
    const ArrayColumn& col = cols[c];
    SQLSMALLINT ctype = SQL_C_CHAR, sqltype = SQL_VARCHAR;
    SQLULEN size = col.width;
    switch (col.kind) {
      case Kind::Int: ctype = SQL_C_SBIGINT; sqltype = SQL_BIGINT; size = 0; break;
      case Kind::Double: ctype = SQL_C_DOUBLE; sqltype = SQL_DOUBLE; size = 0; break;
      case Kind::Float: ctype = SQL_C_FLOAT; sqltype = SQL_REAL; size = 0; break;
      case Kind::Bytes: ctype = SQL_C_BINARY; sqltype = SQL_LONGVARBINARY; break;
      default:
        // UTF-8 as it is, never as wide characters (see BindValue).
        sqltype = col.width > 8000 ? SQL_LONGVARCHAR : SQL_VARCHAR;
        break;
    }
    bound = Ok(SQLBindParameter(s, static_cast<SQLUSMALLINT>(c + 1), SQL_PARAM_INPUT, ctype, sqltype, size, 0,
                                const_cast<char*>(col.data.data()), static_cast<SQLLEN>(col.width),
                                const_cast<SQLLEN*>(col.ind.data())));
  }
  auto unbind = [&] {
    SQLFreeStmt(s, SQL_RESET_PARAMS);
    SQLSetStmtAttr(s, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    SQLSetStmtAttr(s, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttr(s, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
  };
  if (!bound) {
    unbind();
    arrayInserts_.erase(set);
    EndChain();
    return ArrayResult::NotSuitable;
  }
  // The driver may go on past a refused row; the transaction makes the
  // batch all or nothing whatever it does. Where another array follows at
  // once, its transaction is begun by this one's commit (one round trip
  // less per batch).
  if (!inTxn_ && !Exec("START TRANSACTION")) {
    unbind();
    return ArrayResult::Refused;
  }
  inTxn_ = true;
  const SQLRETURN rc = SQLExecute(s);
  bool ok = Ok(rc);
  if (ok && rc == SQL_SUCCESS_WITH_INFO) {
    for (SQLUSMALLINT st : status)
      if (st == SQL_PARAM_ERROR || st == SQL_PARAM_DIAG_UNAVAILABLE) ok = false;
  }
  unbind();
  if (ok && Exec(chain ? "COMMIT AND CHAIN" : "COMMIT")) {
    inTxn_ = chain;
    return ArrayResult::Stored;
  }
  inTxn_ = false;
  Exec("ROLLBACK");
  return ArrayResult::Refused;
}

// Every other way of storing rows runs in autocommit: a transaction begun
// for an array that then could not be used is closed first.
void OdbcAppender::EndChain() {
  if (!inTxn_) return;
  inTxn_ = false;
  Exec("COMMIT");
}

void OdbcAppender::SendLiterals(const std::vector<Queued>& rows, std::vector<RowFailure>& refused) {
  std::string sql;
  size_t first = 0;
  auto send = [&](size_t end) {
    if (first < end && !Exec(sql)) Replay(rows, first, end, refused);
    sql.clear();
    first = end;
  };
  for (size_t r = 0; r < rows.size(); ++r) {
    std::string literal;
    if (!AppendLiteralRow(rows[r].values, rows[r].set, literal)) {
      // A value with no literal form (a NUL under NO_BACKSLASH_ESCAPES, an
      // infinite double, a GUID) goes by itself, after the rows before it.
      send(r);
      Replay(rows, r, r + 1, refused);
      first = r + 1;
      continue;
    }
    if (first < r && sql.size() + literal.size() > kMaxBatchBytes) send(r);
    sql += first == r ? batchHead_ : std::string(", ");
    sql += literal;
  }
  send(rows.size());
}

// Where rows of one batch differ in the columns they leave out or in the
// kinds of their values, each run of alike rows goes as an array of its own:
// long statements of literals are the exception, since the driver's
// conversion of them has been seen to corrupt memory now and then.
size_t OdbcAppender::RunEnd(const std::vector<Queued>& rows, size_t from) const {
  auto filled = [&](const std::vector<bool>& s) {
    std::vector<bool> f = s;
    for (size_t i = 0; i < f.size(); ++i) f[i] = f[i] || nullDefault_[i];
    return f;
  };
  // Every element of an array is as wide as the column's longest value: a
  // row with a long text or binary value goes in a run of its own, so that a
  // few long memos do not make the arrays of thousands of rows huge.
  auto wide = [](const Queued& q) {
    for (const ado::Value& v : q.values) {
      if (const auto* t = std::get_if<std::string>(&v); t && t->size() > kWideValue) return true;
      if (const auto* b = std::get_if<ado::Bytes>(&v); b && b->size() > kWideValue) return true;
    }
    return false;
  };
  if (wide(rows[from])) return from + 1;
  const std::vector<bool> set = filled(rows[from].set);
  std::vector<Kind> kinds(cols_.size(), Kind::None);
  size_t to = from;
  for (; to < rows.size(); ++to) {
    const Queued& q = rows[to];
    if (q.set != rows[from].set && filled(q.set) != set) break;
    if (to > from && wide(q)) break;
    bool alike = true;
    for (size_t i = 0; i < cols_.size() && alike; ++i) {
      const Kind k = KindOf(q.values[i]);
      if (k == Kind::None || k == kinds[i]) continue;
      if (kinds[i] == Kind::None) kinds[i] = k;
      else alike = false;
    }
    if (!alike) break;
  }
  return to;
}

// A run too wide for one array (a few long memos among short rows make every
// element as wide as the longest) goes in halves.
void OdbcAppender::SendRun(Run& run, bool chain, std::vector<RowFailure>& refused) {
  switch (run.built) {
    case ArrayResult::Stored:
      switch (ExecArrays(run, chain)) {
        case ArrayResult::Stored:
          return;
        case ArrayResult::NotSuitable:
          SendLiterals(run.rows, refused);
          return;
        default:
          Replay(run.rows, 0, run.rows.size(), refused);
          return;
      }
    case ArrayResult::TooWide: {
      const auto half = run.rows.begin() + static_cast<std::ptrdiff_t>(run.rows.size() / 2);
      Run parts[2];
      parts[0].rows.assign(run.rows.begin(), half);
      parts[1].rows.assign(half, run.rows.end());
      for (Run& part : parts) part.built = BuildArrays(part);
      SendRun(parts[0], parts[1].built == ArrayResult::Stored, refused);
      SendRun(parts[1], chain, refused);
      return;
    }
    default:
      SendLiterals(run.rows, refused);
      return;
  }
}

std::vector<OdbcAppender::Run> OdbcAppender::MakeRuns(std::vector<Queued>&& rows) const {
  std::vector<Run> runs;
  for (size_t from = 0; from < rows.size();) {
    const size_t to = RunEnd(rows, from);
    Run& run = runs.emplace_back();
    if (from == 0 && to == rows.size()) run.rows = std::move(rows);
    else run.rows.assign(std::make_move_iterator(rows.begin() + static_cast<std::ptrdiff_t>(from)),
                         std::make_move_iterator(rows.begin() + static_cast<std::ptrdiff_t>(to)));
    run.built = BuildArrays(run);
    from = to;
  }
  return runs;
}

void OdbcAppender::SendBatch(std::vector<Run>& runs) {
  std::vector<RowFailure> refused;
  for (size_t i = 0; i < runs.size(); ++i) {
    // Chain into the next array only where one surely follows: the next run
    // of this batch, or the first of a batch already handed over (the caller
    // cannot take it back, so the sender will go on with it).
    bool chain = false;
    if (i + 1 < runs.size()) {
      chain = runs[i + 1].built == ArrayResult::Stored;
    } else {
      std::lock_guard<std::mutex> lock(mu_);
      chain = haveJob_ && !jobRuns_.empty() && jobRuns_.front().built == ArrayResult::Stored;
    }
    SendRun(runs[i], chain, refused);
  }
  if (!refused.empty()) {
    std::lock_guard<std::mutex> lock(mu_);
    failures_.insert(failures_.end(), refused.begin(), refused.end());
  }
}

void OdbcAppender::SenderLoop() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return haveJob_ || stop_; });
    if (!haveJob_) return;
    std::vector<Run> runs = std::move(jobRuns_);
    jobRuns_.clear();
    haveJob_ = false;
    sending_ = true;
    cv_.notify_all();  // the caller may hand over the next batch now
    lock.unlock();
    SendBatch(runs);
    lock.lock();
    // Freeing a batch's values takes as long as building its arrays: the
    // caller does it while this thread sends the next one.
    for (Run& r : runs) doneRuns_.push_back(std::move(r));
    sending_ = false;
    cv_.notify_all();
  }
}

void OdbcAppender::WaitForSender() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return !haveJob_ && !sending_; });
}

void OdbcAppender::StopSender() {
  if (!sender_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  sender_.join();
  stop_ = false;
}

void OdbcAppender::StoreBatch() {
  if (queue_.empty()) return;
  std::vector<Run> runs = MakeRuns(std::move(queue_));
  // Others on the connection finish first; this record set's own sender may
  // still be storing the batch before: this one waits in its slot.
  for (SessionChild* c : session_->children)
    if (c != this) c->WaitIdle();
  if (!sender_.joinable()) sender_ = std::thread([this] { SenderLoop(); });
  std::vector<Run> done;
  {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return !haveJob_; });
    jobRuns_ = std::move(runs);
    done = std::move(doneRuns_);
    doneRuns_.clear();
    haveJob_ = true;
  }
  cv_.notify_all();
  queuedBytes_ = 0;
  queue_.clear();
}

void OdbcAppender::SetBatchRows(int rows) {
  RequireOpen();
  StoreBatch();
  session_->WaitIdle();
  batchRows_ = canBatch_ && rows > 1 ? static_cast<size_t>(rows) : 1;
}

std::vector<ado::Recordset::RowFailure> OdbcAppender::Flush() {
  RequireOpen();
  StoreBatch();
  WaitForSender();
  std::lock_guard<std::mutex> lock(mu_);
  return std::exchange(failures_, {});
}

bool OdbcAppender::AppendLiteralRow(const std::vector<ado::Value>& values, const std::vector<bool>& set,
                                    std::string& out) const {
  out += '(';
  for (size_t i = 0; i < cols_.size(); ++i) {
    if (i) out += ", ";
    if (!set[i]) {
      out += "DEFAULT";
    } else if (!AppendLiteral(values[i], cols_[i], out)) {
      return false;
    }
  }
  out += ')';
  return true;
}

bool OdbcAppender::AppendLiteral(const ado::Value& v, const Column& col, std::string& out) const {
  auto quoted = [&](const std::string& s) {
    out += '\'';
    for (char c : s) {
      // A doubled quote ends no literal in either escape mode, and reads the
      // same to the driver's own scan of the text.
      if (c == '\'') {
        out += "''";
      } else if (c == '\\' && !noBackslashEscapes_) {
        out += "\\\\";
      } else if (c == '\0') {
        if (noBackslashEscapes_) return false;
        out += "\\0";
      } else {
        out += c;
      }
    }
    out += '\'';
    return true;
  };
  char buf[64];
  if (ado::IsNull(v)) {
    out += "NULL";
  } else if (const auto* b = std::get_if<bool>(&v)) {
    out += *b ? "1" : "0";
  } else if (const auto* i = std::get_if<int64_t>(&v)) {
    out += std::to_string(*i);
  } else if (const auto* d = std::get_if<double>(&v)) {
    if (!std::isfinite(*d)) return false;
    // The shortest digits that read back as the same double.
    auto r = std::to_chars(buf, buf + sizeof buf, *d);
    out.append(buf, r.ptr);
  } else if (const auto* f = std::get_if<float>(&v)) {
    if (!std::isfinite(*f)) return false;
    auto r = std::to_chars(buf, buf + sizeof buf, *f);
    out.append(buf, r.ptr);
  } else if (const auto* s = std::get_if<std::string>(&v)) {
    return quoted(*s);
  } else if (const auto* dt = std::get_if<ado::DateTime>(&v)) {
    return quoted(DateTimeText(*dt, col.info.type));
  } else if (const auto* c = std::get_if<ado::Currency>(&v)) {
    const bool neg = c->scaled < 0;
    const uint64_t a = neg ? 0 - static_cast<uint64_t>(c->scaled) : static_cast<uint64_t>(c->scaled);
    std::snprintf(buf, sizeof buf, "%s%llu.%04llu", neg ? "-" : "", static_cast<unsigned long long>(a / 10000),
                  static_cast<unsigned long long>(a % 10000));
    out += buf;
  } else if (const auto* dec = std::get_if<ado::Decimal>(&v)) {
    // Digits go as a number; anything else as text for the server to judge.
    const std::string& t = dec->text;
    size_t p = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
    bool digits = p < t.size(), point = false;
    for (size_t k = p; k < t.size() && digits; ++k) {
      if (t[k] == '.' && !point) point = true;
      else if (t[k] < '0' || t[k] > '9') digits = false;
    }
    if (!digits) return quoted(t);
    out += t;
  } else if (std::holds_alternative<ado::Guid>(v)) {
    return false;
  } else if (const auto* by = std::get_if<ado::Bytes>(&v)) {
    if (by->empty()) {
      out += "''";
    } else {
      out += "X'";
      for (uint8_t x : *by) {
        std::snprintf(buf, sizeof buf, "%02X", x);
        out += buf;
      }
      out += '\'';
    }
  }
  return true;
}

OdbcAppender::~OdbcAppender() {
  if (open_) Detach();
  session_->Remove(this);
}

void OdbcAppender::Detach() {
  // The connection is closing: store what is queued while it still can.
  try {
    if (open_) StoreBatch();
  } catch (...) {
  }
  session_->WaitIdle();
  StopSender();
  queue_.clear();
  arrayInserts_.clear();
  inserts_.clear();
  open_ = false;
}

void OdbcAppender::Close() {
  RequireOpen();
  Detach();
  session_->Remove(this);
}

bool OdbcAppender::Eof() const {
  RequireOpen();
  return !pending_;
}

void OdbcAppender::MoveNext() { NoCurrentRecord(); }

const ado::FieldInfo& OdbcAppender::Field(int i) const {
  if (i < 0 || i >= FieldCount()) BadIndex();
  return cols_[static_cast<size_t>(i)].info;
}

const ado::Value& OdbcAppender::GetValue(int i) const {
  RequireOpen();
  if (i < 0 || i >= FieldCount()) BadIndex();
  if (!pending_) NoCurrentRecord();
  return row_[static_cast<size_t>(i)];
}

void OdbcAppender::RequireOpen() const {
  if (!open_) Closed();
}

}  // namespace brenvo::odbc
