#include "db/odbc/odbc_params.h"

#include <cstdio>
#include <cstdlib>

namespace brenvo::odbc {
namespace {

std::string CurrencyText(int64_t scaled) {
  const bool neg = scaled < 0;
  uint64_t a = neg ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s%llu.%04llu", neg ? "-" : "", static_cast<unsigned long long>(a / 10000),
                static_cast<unsigned long long>(a % 10000));
  return buf;
}

std::string GuidText(const ado::Guid& g) {
  const auto& b = g.bytes;
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3], b[2],
                b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return buf;
}

void BindNarrow(SQLHSTMT stmt, SQLUSMALLINT number, ParamBuffer& buf) {
  buf.indicator = static_cast<SQLLEN>(buf.narrow.size());
  Check(SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                         buf.narrow.empty() ? 1 : buf.narrow.size(), 0, buf.narrow.data(),
                         static_cast<SQLLEN>(buf.narrow.size()), &buf.indicator),
        SQL_HANDLE_STMT, stmt, "SQLBindParameter");
}

}  // namespace

std::string DateTimeText(const ado::DateTime& dt, ado::DataType target) {
  char buf[48];
  if (target == ado::adDBDate) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", dt.year, dt.month, dt.day);
    return buf;
  }
  if (target == ado::adDBTime) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", dt.hour, dt.minute, dt.second);
    return buf;
  }
  return ado::FormatDateTime(dt);
}

bool TextForm(const ado::Value& v, const Column& target, std::string& out) {
  if (const auto* s = std::get_if<std::string>(&v)) {
    out = *s;
  } else if (const auto* dt = std::get_if<ado::DateTime>(&v)) {
    out = DateTimeText(*dt, target.info.type);
  } else if (const auto* c = std::get_if<ado::Currency>(&v)) {
    out = CurrencyText(c->scaled);
  } else if (const auto* dec = std::get_if<ado::Decimal>(&v)) {
    out = dec->text;
  } else if (const auto* g = std::get_if<ado::Guid>(&v)) {
    out = GuidText(*g);
  } else {
    return false;
  }
  return true;
}

void BindValue(SQLHSTMT stmt, SQLUSMALLINT number, const ado::Value& v, const Column& target, ParamBuffer& buf) {
  auto bindFixed = [&](SQLSMALLINT ctype, SQLSMALLINT sqltype, void* p) {
    buf.indicator = 0;
    Check(SQLBindParameter(stmt, number, SQL_PARAM_INPUT, ctype, sqltype, 0, 0, p, 0, &buf.indicator),
          SQL_HANDLE_STMT, stmt, "SQLBindParameter");
  };
  if (ado::IsNull(v)) {
    buf.indicator = SQL_NULL_DATA;
    Check(SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 1, 0, nullptr, 0, &buf.indicator),
          SQL_HANDLE_STMT, stmt, "SQLBindParameter");
  } else if (const auto* b = std::get_if<bool>(&v)) {
    buf.i64 = *b ? 1 : 0;
    bindFixed(SQL_C_SBIGINT, SQL_BIGINT, &buf.i64);
  } else if (const auto* i = std::get_if<int64_t>(&v)) {
    buf.i64 = *i;
    bindFixed(SQL_C_SBIGINT, SQL_BIGINT, &buf.i64);
  } else if (const auto* d = std::get_if<double>(&v)) {
    buf.f64 = *d;
    bindFixed(SQL_C_DOUBLE, SQL_DOUBLE, &buf.f64);
  } else if (const auto* f = std::get_if<float>(&v)) {
    buf.f32 = *f;
    bindFixed(SQL_C_FLOAT, SQL_REAL, &buf.f32);
  } else if (const auto* s = std::get_if<std::string>(&v)) {
    // UTF-8 as it is: the connection's character set is utf8mb4. Wide
    // parameters lose their length in the driver when a shorter value
    // follows a longer one (a NUL lands at the end of the stored text).
    buf.narrow = *s;
    buf.indicator = static_cast<SQLLEN>(buf.narrow.size());
    Check(SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_CHAR,
                           buf.narrow.size() > 8000 ? SQL_LONGVARCHAR : SQL_VARCHAR,
                           buf.narrow.empty() ? 1 : buf.narrow.size(), 0, buf.narrow.data(), buf.indicator,
                           &buf.indicator),
          SQL_HANDLE_STMT, stmt, "SQLBindParameter");
  } else if (const auto* dt = std::get_if<ado::DateTime>(&v)) {
    buf.narrow = DateTimeText(*dt, target.info.type);
    BindNarrow(stmt, number, buf);
  } else if (const auto* c = std::get_if<ado::Currency>(&v)) {
    buf.narrow = CurrencyText(c->scaled);
    BindNarrow(stmt, number, buf);
  } else if (const auto* dec = std::get_if<ado::Decimal>(&v)) {
    buf.narrow = dec->text;
    BindNarrow(stmt, number, buf);
  } else if (const auto* g = std::get_if<ado::Guid>(&v)) {
    buf.narrow = GuidText(*g);
    BindNarrow(stmt, number, buf);
  } else if (const auto* by = std::get_if<ado::Bytes>(&v)) {
    buf.bytes = *by;
    buf.indicator = static_cast<SQLLEN>(buf.bytes.size());
    Check(SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                           buf.bytes.empty() ? 1 : buf.bytes.size(), 0, buf.bytes.data(), buf.indicator,
                           &buf.indicator),
          SQL_HANDLE_STMT, stmt, "SQLBindParameter");
  }
}

}  // namespace brenvo::odbc
