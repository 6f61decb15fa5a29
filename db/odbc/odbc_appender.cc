#include "db/odbc/odbc_appender.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

#include "db/odbc/odbc_batch.h"
#include "util/error.h"

namespace brenvo::odbc {

OdbcAppender::OdbcAppender(std::shared_ptr<Session> session, std::string table)
    : session_(std::move(session)), dbc_(session_->handle()), table_(std::move(table)) {
  main_.dbc = dbc_;
  session_->WaitIdle();
  StmtHandle s = NewStatement(dbc_);
  // The session's round trip (how many lanes pay off) is this query's time:
  // the server has next to nothing to do for it.
  const auto t0 = std::chrono::steady_clock::now();
  ExecDirect(s.get(), "SELECT * FROM " + QuoteName(table_) + " LIMIT 0");
  if (session_->roundTripMs < 0)
    session_->roundTripMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  cols_ = DescribeColumns(s.get());
  row_.assign(cols_.size(), ado::Null{});
  set_.assign(cols_.size(), false);

  // Batches rely on a refused statement storing nothing, which holds for
  // InnoDB; the literals must be written the way the session reads them;
  // and columns whose default is NULL store what a NULL stores when left
  // unset, so rows that leave out different ones of these (a copy leaves
  // NULLs unset) still share one array statement. All in one round trip
  // (each costs much on a distant server), the name as a hex literal, which
  // reads the same in every sql_mode.
  std::string hex;
  for (unsigned char c : table_) {
    static const char* digits = "0123456789ABCDEF";
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  const std::string name = "CONVERT(X'" + hex + "' USING utf8)";
  const std::string where = "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = " + name;
  StmtHandle q = NewStatement(dbc_);
  ExecDirect(q.get(),
             "SELECT 'e', ENGINE FROM information_schema.TABLES WHERE " + where +
                 " UNION ALL SELECT 'n', COLUMN_NAME FROM information_schema.COLUMNS WHERE " + where +
                 " AND IS_NULLABLE = 'YES' AND (COLUMN_DEFAULT IS NULL OR COLUMN_DEFAULT = 'NULL') AND EXTRA = ''"
                 " UNION ALL SELECT 's', CONCAT_WS(CHAR(1), @@SESSION.sql_mode, CONNECTION_ID(), IFNULL(DATABASE(), ''),"
                 " @@SESSION.time_zone, @@SESSION.foreign_key_checks + 0, @@SESSION.unique_checks + 0)");
  Column text;
  text.info.type = ado::adVarChar;
  nullDefault_.assign(cols_.size(), false);
  std::vector<std::string> state;
  while (Ok(SQLFetch(q.get()))) {
    const ado::Value kind = ReadValue(q.get(), 0, text), value = ReadValue(q.get(), 1, text);
    const auto* k = std::get_if<std::string>(&kind);
    const auto* v = std::get_if<std::string>(&value);
    if (!k || !v) continue;
    if (*k == "e") {
      canBatch_ = *v == "InnoDB";
    } else if (*k == "n") {
      for (size_t i = 0; i < cols_.size(); ++i)
        if (cols_[i].info.name == *v) nullDefault_[i] = true;
    } else if (*k == "s") {
      for (size_t from = 0;;) {
        const size_t end = v->find('\x01', from);
        state.push_back(v->substr(from, end - from));
        if (end == std::string::npos) break;
        from = end + 1;
      }
    }
  }
  q.reset();
  if (!canBatch_) std::fill(nullDefault_.begin(), nullDefault_.end(), false);
  if (!state.empty()) noBackslashEscapes_ = state[0].find("NO_BACKSLASH_ESCAPES") != std::string::npos;
  // What side connections copy: the settings that decide how a row is
  // stored (texts that could need quoting never do; anything else, no lanes).
  auto plain = [](const std::string& t) { return t.find_first_of("'\\") == std::string::npos; };
  if (state.size() == 6 && plain(state[0]) && plain(state[3]) && !state[1].empty() &&
      state[1].find_first_not_of("0123456789") == std::string::npos && (state[4] == "0" || state[4] == "1") &&
      (state[5] == "0" || state[5] == "1")) {
    connectionId_ = state[1];
    database_ = state[2];
    settings_ = "SET SESSION sql_mode = '" + state[0] + "', time_zone = '" + state[3] +
                "', foreign_key_checks = " + state[4] + ", unique_checks = " + state[5] +
                ", innodb_lock_wait_timeout = " + std::to_string(kLaneLockWait);
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

SQLHSTMT OdbcAppender::StatementFor(Link& link, const std::vector<bool>& set) {
  auto it = link.inserts.find(set);
  if (it != link.inserts.end()) return it->second.get();
  StmtHandle s = NewStatement(link.dbc);
  std::u16string w = Utf8ToUtf16(InsertSql(set));
  Check(SQLPrepareW(s.get(), W(w), static_cast<SQLINTEGER>(w.size())), SQL_HANDLE_STMT, s.get(), "SQLPrepare");
  SQLHSTMT h = s.get();
  link.inserts.emplace(set, std::move(s));
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

void OdbcAppender::StoreOne(Link& link, const std::vector<ado::Value>& values, const std::vector<bool>& set) {
  SQLHSTMT s = StatementFor(link, set);
  link.params.resize(cols_.size());
  SQLUSMALLINT n = 0;
  for (size_t i = 0; i < cols_.size(); ++i) {
    if (!set[i]) continue;
    ++n;
    BindValue(s, n, values[i], cols_[i], link.params[n - 1]);
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
    StoreOne(main_, row_, set_);
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
  if (!queue_.empty() && queuedBytes_ + bytes > kMaxBatchBytes) StoreBatch(true);
  queuedBytes_ += bytes;
  queue_.push_back({std::move(row_), set_, index});
  row_.assign(cols_.size(), ado::Null{});
  if (queue_.size() >= batchRows_) StoreBatch(true);
}

bool OdbcAppender::Exec(Link& link, const std::string& sql) {
  try {
    StmtHandle st = NewStatement(link.dbc);
    ExecDirect(st.get(), sql);
    return true;
  } catch (...) {
    return false;
  }
}

void OdbcAppender::Replay(Link& link, const std::vector<Queued>& rows, size_t from, size_t to,
                          std::vector<RowFailure>& refused) {
  for (size_t r = from; r < to; ++r) {
    const Queued& q = rows[r];
    try {
      StoreOne(link, q.values, q.set);
    } catch (const BrenvoError& e) {
      refused.push_back({q.index, e.number(), e.description()});
    } catch (...) {
      const ErrorInfo e = DescribeCurrentException();
      refused.push_back({q.index, e.number, e.description});
    }
  }
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
    if (open_) StoreBatch(false);
  } catch (...) {
  }
  session_->WaitIdle();
  StopSender();
  queue_.clear();
  main_.arrayInserts.clear();
  main_.inserts.clear();
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
