#include "db/odbc/odbc_appender.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "db/odbc/odbc_batch.h"
#include "util/error.h"

namespace brenvo::odbc {
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
