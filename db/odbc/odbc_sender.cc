// The batched appender's sending side: a batch's runs of alike rows made
// into parameter arrays, and the thread that stores them, each batch in a
// transaction of its own, replaying a refused one row by row.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "db/odbc/odbc_batch.h"
#include "util/error.h"

namespace brenvo::odbc {

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
      // Texts and bytes go into the array as they are (below); only other
      // values (dates, amounts, GUIDs) need a text form made first.
      c.texts.resize(n);
      for (size_t r = 0; r < n; ++r) {
        const ado::Value& v = rows[r].values[i];
        if (ado::IsNull(v)) continue;
        if (const auto* t = std::get_if<std::string>(&v)) {
          c.width = std::max(c.width, t->size());
        } else if (const auto* by = std::get_if<ado::Bytes>(&v)) {
          c.width = std::max(c.width, by->size());
        } else {
          TextForm(v, cols_[i], c.texts[r]);
          c.width = std::max(c.width, c.texts[r].size());
        }
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
        std::string_view t = col.texts[r];
        if (const auto* s = std::get_if<std::string>(&v)) t = *s;
        else if (const auto* by = std::get_if<ado::Bytes>(&v)) t = {reinterpret_cast<const char*>(by->data()), by->size()};
        std::memcpy(at, t.data(), t.size());
        col.ind[r] = static_cast<SQLLEN>(t.size());
      }
    }
    col.texts.clear();
  }

  return ArrayResult::Stored;
}

// Binds the arrays of run and executes them once, in whatever transaction
// link is in; no commit, no rollback.
OdbcAppender::ArrayResult OdbcAppender::ExecuteArrays(Link& link, Run& run) {
  const size_t n = run.rows.size();
  const std::vector<bool>& set = run.set;
  const std::vector<ArrayColumn>& cols = run.cols;
  SQLHSTMT s;
  auto it = link.arrayInserts.find(set);
  if (it != link.arrayInserts.end()) {
    s = it->second.get();
  } else {
    StmtHandle h;
    // A connection gone away refuses even a statement handle: the rows then
    // go one by one, and each reports the connection's error.
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, link.dbc, h.out()))) return ArrayResult::Refused;
    std::u16string w = Utf8ToUtf16(InsertSql(set));
    if (!Ok(SQLPrepareW(h.get(), W(w), static_cast<SQLINTEGER>(w.size())))) return ArrayResult::NotSuitable;
    s = h.get();
    link.arrayInserts.emplace(set, std::move(h));
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
    link.arrayInserts.erase(set);
    return ArrayResult::NotSuitable;
  }
  const SQLRETURN rc = SQLExecute(s);
  bool ok = Ok(rc);
  if (ok && rc == SQL_SUCCESS_WITH_INFO) {
    for (SQLUSMALLINT st : status)
      if (st == SQL_PARAM_ERROR || st == SQL_PARAM_DIAG_UNAVAILABLE) ok = false;
  }
  unbind();
  return ok ? ArrayResult::Stored : ArrayResult::Refused;
}

OdbcAppender::ArrayResult OdbcAppender::ExecArrays(Link& link, Run& run, bool chain) {
  // The driver may go on past a refused row; the transaction makes the
  // batch all or nothing whatever it does. Where another array follows at
  // once, its transaction is begun by this one's commit (one round trip
  // less per batch).
  if (!link.inTxn && !Exec(link, "START TRANSACTION")) return ArrayResult::Refused;
  link.inTxn = true;
  const ArrayResult result = ExecuteArrays(link, run);
  if (result == ArrayResult::NotSuitable) {
    EndChain(link);
    return result;
  }
  if (result == ArrayResult::Stored && Exec(link, chain ? "COMMIT AND CHAIN" : "COMMIT")) {
    link.inTxn = chain;
    return ArrayResult::Stored;
  }
  link.inTxn = false;
  Exec(link, "ROLLBACK");
  return ArrayResult::Refused;
}

// Every other way of storing rows runs in autocommit: a transaction begun
// for an array that then could not be used is closed first.
void OdbcAppender::EndChain(Link& link) {
  if (!link.inTxn) return;
  link.inTxn = false;
  Exec(link, "COMMIT");
}

void OdbcAppender::SendLiterals(Link& link, const std::vector<Queued>& rows, std::vector<RowFailure>& refused) {
  std::string sql;
  size_t first = 0;
  auto send = [&](size_t end) {
    if (first < end && !Exec(link, sql)) Replay(link, rows, first, end, refused);
    sql.clear();
    first = end;
  };
  for (size_t r = 0; r < rows.size(); ++r) {
    std::string literal;
    if (!AppendLiteralRow(rows[r].values, rows[r].set, literal)) {
      // A value with no literal form (a NUL under NO_BACKSLASH_ESCAPES, an
      // infinite double, a GUID) goes by itself, after the rows before it.
      send(r);
      Replay(link, rows, r, r + 1, refused);
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
namespace {

// Every element of an array is as wide as the column's longest value: a row
// with a long text or binary value goes apart from the short ones, so that a
// few long memos do not make the arrays of thousands of rows huge.
bool HasWideValue(const std::vector<ado::Value>& values) {
  for (const ado::Value& v : values) {
    if (const auto* t = std::get_if<std::string>(&v); t && t->size() > kWideValue) return true;
    if (const auto* b = std::get_if<ado::Bytes>(&v); b && b->size() > kWideValue) return true;
  }
  return false;
}

}  // namespace

// splitWide: a row with a long value is a run of its own.
size_t OdbcAppender::RunEnd(const std::vector<Queued>& rows, size_t from, bool splitWide) const {
  auto filled = [&](const std::vector<bool>& s) {
    std::vector<bool> f = s;
    for (size_t i = 0; i < f.size(); ++i) f[i] = f[i] || nullDefault_[i];
    return f;
  };
  auto wide = [&](const Queued& q) { return splitWide && HasWideValue(q.values); };
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
void OdbcAppender::SendRun(Link& link, Run& run, bool chain, std::vector<RowFailure>& refused) {
  switch (run.built) {
    case ArrayResult::Stored:
      switch (ExecArrays(link, run, chain)) {
        case ArrayResult::Stored:
          return;
        case ArrayResult::NotSuitable:
          SendLiterals(link, run.rows, refused);
          return;
        default:
          Replay(link, run.rows, 0, run.rows.size(), refused);
          return;
      }
    case ArrayResult::TooWide: {
      const auto half = run.rows.begin() + static_cast<std::ptrdiff_t>(run.rows.size() / 2);
      Run parts[2];
      parts[0].rows.assign(run.rows.begin(), half);
      parts[1].rows.assign(half, run.rows.end());
      for (Run& part : parts) part.built = BuildArrays(part);
      SendRun(link, parts[0], parts[1].built == ArrayResult::Stored, refused);
      SendRun(link, parts[1], chain, refused);
      return;
    }
    default:
      SendLiterals(link, run.rows, refused);
      return;
  }
}

// gatherWide: the rows with long values go after the others, alike ones
// together (a lane stores a batch in one transaction, so only the rows'
// order inside it changes; a refused batch goes again in its first order).
std::vector<OdbcAppender::Run> OdbcAppender::MakeRuns(std::vector<Queued>&& rows, bool gatherWide) const {
  std::vector<Queued> wide;
  if (gatherWide) {
    auto narrowEnd = std::stable_partition(rows.begin(), rows.end(),
                                           [](const Queued& q) { return !HasWideValue(q.values); });
    wide.assign(std::make_move_iterator(narrowEnd), std::make_move_iterator(rows.end()));
    rows.erase(narrowEnd, rows.end());
  }
  std::vector<Run> runs;
  for (std::vector<Queued>* part : {&rows, &wide}) {
    for (size_t from = 0; from < part->size();) {
      const size_t to = RunEnd(*part, from, !gatherWide);
      Run& run = runs.emplace_back();
      if (from == 0 && to == part->size()) run.rows = std::move(*part);
      else run.rows.assign(std::make_move_iterator(part->begin() + static_cast<std::ptrdiff_t>(from)),
                           std::make_move_iterator(part->begin() + static_cast<std::ptrdiff_t>(to)));
      run.built = BuildArrays(run);
      from = to;
    }
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
    SendRun(main_, runs[i], chain, refused);
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
  cv_.wait(lock, [this] { return !haveJob_ && !sending_ && jobs_.empty() && resolvedUpTo_ == nextSeq_; });
}

void OdbcAppender::StopSender() {
  if (!sender_.joinable() && lanes_.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  if (sender_.joinable()) sender_.join();
  for (auto& lane : lanes_) {
    if (lane->thread.joinable()) lane->thread.join();
    // Its statements go before its connection goes back to the session.
    lane->link.inserts.clear();
    lane->link.arrayInserts.clear();
    // A connection left in autocommit (it went away, most likely) is dropped.
    if (lane->ready && !lane->link.autocommit) {
      lane->side->autocommitOff = true;
      session_->ReturnSide(std::move(lane->side));
    }
  }
  lanes_.clear();
  stop_ = false;
}

// full: a whole batch, which more may follow; the first such starts the
// lanes, as many as the round trip wants (timed once a session, by the first
// appender). last: the caller wants every row stored now (Flush); where no
// lane runs, a side connection already made ready for this session takes
// the batch: on the record set's own connection, in autocommit, a batch
// costs a round trip more (its START TRANSACTION), and a copy run's many
// small tables each pay it.
void OdbcAppender::StoreBatch(bool full, bool last) {
  if (queue_.empty()) return;
  // Others on the connection finish first; this record set's own sender may
  // still be storing the batch before: this one waits in its slot.
  for (SessionChild* c : session_->children)
    if (c != this) c->WaitIdle();
  if (!lanesTried_ && full) {
    lanesTried_ = true;
    WaitForSender();  // what the record set's own connection took goes first
    StartLanes(LanesFor(session_->roundTripMs));
    const double growth = std::min(LanesWanted(session_->roundTripMs) / kMaxLanes, kMaxBatchGrowth);
    if (lanes_.size() == kMaxLanes && growth > 1)
      batchRows_ = static_cast<size_t>(static_cast<double>(batchRows_) * growth);
  } else if (!lanesTried_ && last && lanes_.empty() && !settings_.empty() &&
             session_->HasReadySide(connectionId_, database_, settings_)) {
    WaitForSender();
    StartLanes(1);  // (a later full batch adds the others)
  }
  std::vector<Run> runs = MakeRuns(std::move(queue_), !lanes_.empty());
  std::vector<Run> done;
  if (!lanes_.empty()) {
    auto job = std::make_unique<Job>();
    job->runs = std::move(runs);
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return jobs_.size() < std::min(lanes_.size(), kWaitingBatches); });
    job->seq = nextSeq_++;
    jobs_.push_back(std::move(job));
    done = std::move(doneRuns_);
    doneRuns_.clear();
    lock.unlock();
    cv_.notify_all();
    queuedBytes_ = 0;
    queue_.clear();
    return;
  }
  if (!sender_.joinable()) sender_ = std::thread([this] { SenderLoop(); });
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
  StoreBatch(false);
  session_->WaitIdle();
  batchRows_ = canBatch_ && rows > 1 ? static_cast<size_t>(rows) : 1;
}

std::vector<ado::Recordset::RowFailure> OdbcAppender::Flush() {
  RequireOpen();
  StoreBatch(false, true);
  WaitForSender();
  std::lock_guard<std::mutex> lock(mu_);
  // Lanes report as their batches resolve; the caller hears of rows in order.
  std::stable_sort(failures_.begin(), failures_.end(),
                   [](const RowFailure& a, const RowFailure& b) { return a.row < b.row; });
  return std::exchange(failures_, {});
}

}  // namespace brenvo::odbc
