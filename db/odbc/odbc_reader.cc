#include "db/odbc/odbc_reader.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "db/odbc/odbc_block.h"
#include "util/error.h"

namespace brenvo::odbc {
namespace {

constexpr size_t kDefaultSliceRows = 5000;
size_t g_sliceRows = kDefaultSliceRows;
// After the first slice, slices hold about kSliceBytes of values (at most
// kMaxSliceRows rows): few enough round trips that a distant server keeps
// up with the caller, and memory still bounded whatever the table's size.
constexpr size_t kSliceBytes = size_t{2} << 20;
constexpr size_t kMaxSliceRows = 50000;
// Both limits grow by one for every kMsPerSliceScale of round trip, to at
// most kMaxSliceScale times.
constexpr double kMsPerSliceScale = 10.0;
constexpr size_t kMaxSliceScale = 3;

// The primary-key columns of table as the driver gives them.
std::vector<std::string> PrimaryKeyByDriver(SQLHDBC dbc, const std::string& table) {
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

// The primary-key columns of table, in key order: those of every table of
// the current database are read at once, the first time a table of it is
// read (one round trip, not one a table). A table not among them (another
// spelling of its name, a table made since) asks the driver.
std::vector<std::string> PrimaryKey(Session& session, const std::string& table) {
  SQLWCHAR cat[256];
  SQLINTEGER len = 0;
  std::string db;
  if (Ok(SQLGetConnectAttrW(session.handle(), SQL_ATTR_CURRENT_CATALOG, cat, sizeof cat, &len)) && len > 0 &&
      static_cast<size_t>(len) < sizeof cat)
    db = Utf16ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(cat), static_cast<size_t>(len) / sizeof(SQLWCHAR)));
  if (db.empty()) return PrimaryKeyByDriver(session.handle(), table);
  if (session.keysDatabase != db) {
    session.primaryKeys.clear();
    session.keysDatabase.clear();
    try {
      StmtHandle s = NewStatement(session.handle());
      ExecDirect(s.get(),
                 "SELECT TABLE_NAME, COLUMN_NAME FROM information_schema.STATISTICS WHERE TABLE_SCHEMA = DATABASE() "
                 "AND INDEX_NAME = 'PRIMARY' ORDER BY TABLE_NAME, SEQ_IN_INDEX");
      const std::vector<Column> cols = DescribeColumns(s.get());
      for (;;) {
        const SQLRETURN rc = SQLFetch(s.get());
        if (rc == SQL_NO_DATA) break;
        Check(rc, SQL_HANDLE_STMT, s.get(), "SQLFetch");
        const ado::Value t = ReadValue(s.get(), 0, cols[0]);
        const ado::Value c = ReadValue(s.get(), 1, cols[1]);
        if (!std::holds_alternative<std::string>(t) || !std::holds_alternative<std::string>(c)) continue;
        session.primaryKeys[std::get<std::string>(t)].push_back(std::get<std::string>(c));
      }
      session.keysDatabase = db;
    } catch (const BrenvoError&) {
      session.primaryKeys.clear();
      return PrimaryKeyByDriver(session.handle(), table);
    }
  }
  auto it = session.primaryKeys.find(table);
  if (it != session.primaryKeys.end()) return it->second;
  return PrimaryKeyByDriver(session.handle(), table);
}

}  // namespace

size_t ReadSliceRows() { return g_sliceRows; }
void SetReadSliceRows(size_t rows) { g_sliceRows = std::max<size_t>(rows, 1); }

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
  nextStmt_.reset();
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
  std::vector<std::string> key = PrimaryKey(*r->session_, table);
  if (key.empty()) {
    r->sql_ = from;
    r->Start();
    return r;
  }
  r->sliced_ = true;
  r->sliceRows_ = ReadSliceRows();
  std::string order;
  for (const auto& k : key) order += (order.empty() ? "" : ", ") + QuoteName(k);
  const std::string limit = " ORDER BY " + order + " LIMIT ";
  r->sql_ = from + limit + std::to_string(r->sliceRows_);
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
  r->nextSql_ = from + " WHERE " + where + limit + "?";
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
    if (sliced_) block_ = std::make_unique<BlockFetch>(cols_);
  }
  if (!sliced_) {
    Fetch();
    return;
  }
  slice_.clear();
  const size_t bytes = ReadSlice(true, stmt_.get(), slice_);
  pos_ = 0;
  eof_ = slice_.empty();
  curRows_ = sliceRows_;
  if (slice_.size() < curRows_) return;
  // A distant server: larger slices, fewer round trips (each slice waits a
  // round trip, and the response's ramp-up after the connection sat idle).
  if (session_->roundTripMs < 0) {
    // The shorter of two: a busy machine stretches a single one.
    double best = -1;
    for (int i = 0; i < 2; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      FirstRowTexts(dbc_, "SELECT 0");
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      if (best < 0 || ms < best) best = ms;
    }
    session_->roundTripMs = best;
  }
  sliceScale_ =
      std::clamp<size_t>(1 + static_cast<size_t>(session_->roundTripMs / kMsPerSliceScale), 1, kMaxSliceScale);
  PlanNextSlice(bytes);
  StartPrefetch();
}

// Each slice twice the one before, up to about kSliceBytes of values by the
// measure of the slice just read: a small table costs no more than before,
// a large one few round trips.
void OdbcReader::PlanNextSlice(size_t bytes) {
  nextRows_ = sliceRows_;
  if (sliceRows_ < kDefaultSliceRows) return;
  const size_t maxRows = kMaxSliceRows * sliceScale_;
  const size_t byBytes = bytes > 0 ? static_cast<size_t>(static_cast<double>(kSliceBytes * sliceScale_) *
                                                         static_cast<double>(slice_.size()) / bytes)
                                   : maxRows;
  nextRows_ = std::clamp<size_t>(std::min(curRows_ * 2, byBytes), sliceRows_, maxRows);
}

// The slices after the first go by one statement, prepared once (a round
// trip less for each).
SQLHSTMT OdbcReader::RunSlice(bool first) {
  if (first) {
    stmt_ = NewStatement(dbc_);
    ExecDirect(stmt_.get(), sql_);
    return stmt_.get();
  }
  if (!nextStmt_) {
    StmtHandle s = NewStatement(dbc_);
    std::u16string w = Utf8ToUtf16(nextSql_);
    Check(SQLPrepareW(s.get(), W(w), static_cast<SQLINTEGER>(w.size())), SQL_HANDLE_STMT, s.get(), "SQLPrepare");
    nextStmt_ = std::move(s);
  }
  SQLHSTMT s = nextStmt_.get();
  SQLFreeStmt(s, SQL_RESET_PARAMS);
  keyParams_.assign(keyParamOrder_.size(), ParamBuffer{});
  for (size_t p = 0; p < keyParamOrder_.size(); ++p) {
    const int k = keyParamOrder_[p];
    BindValue(s, static_cast<SQLUSMALLINT>(p + 1), lastKey_[static_cast<size_t>(k)],
              cols_[static_cast<size_t>(keyCols_[static_cast<size_t>(k)])], keyParams_[p]);
  }
  limitParam_ = static_cast<SQLINTEGER>(nextRows_);
  Check(SQLBindParameter(s, static_cast<SQLUSMALLINT>(keyParamOrder_.size() + 1), SQL_PARAM_INPUT, SQL_C_SLONG,
                         SQL_INTEGER, 0, 0, &limitParam_, 0, nullptr),
        SQL_HANDLE_STMT, s, "SQLBindParameter");
  Check(SQLExecute(s), SQL_HANDLE_STMT, s, "SQLExecute");
  return s;
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

size_t OdbcReader::ReadSlice(bool first, SQLHSTMT s, std::vector<std::vector<ado::Value>>& out) {
  size_t bytes = 0;
  bool done = false;
  while (!done && block_ && block_->Usable()) {
    done = block_->ReadAll(s, out, bytes) == BlockFetch::Outcome::Read;
    // A value outgrew its buffer: the same slice again, with wider buffers
    // or, past their limit, a value at a time.
    if (!done) s = RunSlice(first);
  }
  while (!done) {
    SQLRETURN rc = SQLFetch(s);
    if (rc == SQL_NO_DATA) break;
    Check(rc, SQL_HANDLE_STMT, s, "SQLFetch");
    std::vector<ado::Value>& row = out.emplace_back(cols_.size());
    for (size_t i = 0; i < cols_.size(); ++i) {
      row[i] = ReadValue(s, static_cast<int>(i), cols_[i]);
      bytes += ValueBytes(row[i]);
    }
  }
  if (s == stmt_.get()) stmt_.reset();
  else SQLFreeStmt(s, SQL_CLOSE);
  if (!out.empty()) {
    lastKey_.resize(keyCols_.size());
    for (size_t k = 0; k < keyCols_.size(); ++k) lastKey_[k] = out.back()[static_cast<size_t>(keyCols_[k])];
  }
  return bytes;
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
      nextBytes_ = ReadSlice(false, RunSlice(false), next_);
    } catch (...) {
      nextStmt_.reset();
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
  curRows_ = nextRows_;
  if (slice_.size() == curRows_) {
    PlanNextSlice(nextBytes_);
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

}  // namespace brenvo::odbc
