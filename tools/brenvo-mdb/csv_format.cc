#include "tools/brenvo-mdb/csv_format.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "db/jet/column_value.h"
#include "db/jet/table_scan.h"

namespace brenvo::mdb {

namespace {

// The shortest round-trip digits come from the scientific form: the fixed
// form of to_chars spells a large value's whole binary expansion
// (3.4028235e38f as 340282346638528859811704183484516925440), which reads
// back the same but is not the shortest digit string. The digits are then
// laid out without exponent.
template <typename F>
std::string Shortest(F v) {
  if (v == 0) return "0";  // also -0
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
  std::string out;
  if (sci.front() == '-') {
    out.push_back('-');
    sci.remove_prefix(1);
  }
  size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e))
    if (c != '.') digits.push_back(c);
  int exp = 0;
  std::from_chars(sci.data() + e + 1 + (sci[e + 1] == '+'), sci.data() + sci.size(), exp);
  // digits d1 d2 ... dn stand for d1.d2...dn x 10^exp.
  int point = exp + 1;  // digits before the point
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<size_t>(-point), '0');
    out += digits;
  } else if (static_cast<size_t>(point) >= digits.size()) {
    out += digits;
    out.append(static_cast<size_t>(point) - digits.size(), '0');
  } else {
    out.append(digits, 0, static_cast<size_t>(point));
    out.push_back('.');
    out.append(digits, static_cast<size_t>(point));
  }
  return out;
}

}  // namespace

std::string FormatDouble(double d) { return Shortest(d); }
std::string FormatFloat(float f) { return Shortest(f); }

std::string FormatGuid(const ado::Guid& g) {
  const auto& b = g.bytes;
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3], b[2],
                b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return buf;
}

void AppendCsvText(std::string_view s, std::string& out) {
  bool quote = s.empty() || s.front() == ' ' || s.front() == '\t' || s.back() == ' ' || s.back() == '\t';
  for (size_t i = 0; i < s.size() && !quote; ++i) {
    char c = s[i];
    quote = c == ',' || c == '"' || c == '\r' || c == '\n';
  }
  if (!quote) {
    out.append(s);
    return;
  }
  out.push_back('"');
  for (;;) {
    size_t q = s.find('"');
    if (q == std::string_view::npos) break;
    out.append(s.substr(0, q + 1));
    out.push_back('"');
    s.remove_prefix(q + 1);
  }
  out.append(s);
  out.push_back('"');
}

void AppendCsvField(const ado::Value& v, std::string& out) {
  struct Visitor {
    std::string& out;
    void operator()(const ado::Null&) {}
    void operator()(bool b) { out.push_back(b ? '1' : '0'); }
    void operator()(int64_t i) {
      char buf[24];
      auto r = std::to_chars(buf, buf + sizeof buf, i);
      out.append(buf, r.ptr);
    }
    void operator()(double d) { out += FormatDouble(d); }
    void operator()(float f) { out += FormatFloat(f); }
    void operator()(const std::string& s) { AppendCsvText(s, out); }
    void operator()(const ado::DateTime& d) {
      // The common case by hand: snprintf dominated exports of date-heavy tables.
      if (d.microsecond || d.year < 0 || d.year > 9999) {
        out += ado::FormatDateTime(d);
        return;
      }
      char b[19];
      auto two = [&](int at, int v) {
        b[at] = static_cast<char>('0' + v / 10 % 10);
        b[at + 1] = static_cast<char>('0' + v % 10);
      };
      two(0, d.year / 100);
      two(2, d.year % 100);
      b[4] = '-';
      two(5, d.month);
      b[7] = '-';
      two(8, d.day);
      b[10] = ' ';
      two(11, d.hour);
      b[13] = ':';
      two(14, d.minute);
      b[16] = ':';
      two(17, d.second);
      out.append(b, sizeof b);
    }
    void operator()(const ado::Currency& c) {
      uint64_t mag = c.scaled < 0 ? 0 - static_cast<uint64_t>(c.scaled) : static_cast<uint64_t>(c.scaled);
      char buf[40];
      std::snprintf(buf, sizeof buf, "%s%llu.%04llu", c.scaled < 0 ? "-" : "",
                    static_cast<unsigned long long>(mag / 10000), static_cast<unsigned long long>(mag % 10000));
      out += buf;
    }
    void operator()(const ado::Decimal& d) { out += d.text; }
    void operator()(const ado::Guid& g) { out += FormatGuid(g); }
    void operator()(const ado::Bytes& b) {
      // An empty value is not NULL: it is written like the empty string.
      if (b.empty()) {
        out += "\"\"";
        return;
      }
      static const char* hex = "0123456789ABCDEF";
      for (uint8_t x : b) {
        out.push_back(hex[x >> 4]);
        out.push_back(hex[x & 15]);
      }
    }
  };
  std::visit(Visitor{out}, v);
}

bool ExportCsv(const jet::Database& db, const std::string& name, const std::function<bool(std::string_view)>& sink) {
  constexpr size_t kChunk = 1 << 20;
  const jet::TableDef& t = db.Table(name);
  std::string out;
  out.reserve(kChunk + 65536);
  for (size_t i = 0; i < t.columns.size(); ++i) {
    if (i) out.push_back(',');
    AppendCsvText(t.columns[i].name, out);
  }
  out += "\r\n";
  jet::TableScan scan(db.File(), t);
  jet::RowBytes row;
  std::vector<uint8_t> scratch;
  while (scan.Next(row)) {
    jet::RowReader r(row.bytes, t);
    for (size_t i = 0; i < t.columns.size(); ++i) {
      if (i) out.push_back(',');
      AppendCsvField(jet::DecodeValue(db.File(), r, t.columns[i], scratch), out);
    }
    out += "\r\n";
    if (out.size() >= kChunk) {
      if (!sink(out)) return false;
      out.clear();
    }
  }
  return sink(out);
}

std::string SchemaText(const jet::Database& db, const std::string& name) {
  const jet::TableDef& t = db.Table(name);
  std::string s = "table: " + name + "\n  csv: " + name + ".csv\n  rows: " + std::to_string(t.rowCount) +
                  "\n  columns:\n";
  int n = 0;
  for (const auto& c : t.columns) {
    s += "    " + std::to_string(++n) + ". " + c.name + ": " + jet::TypeName(c.type) + ", length " +
         std::to_string(c.length) + " bytes";
    if (c.type == jet::kColText) s += ", " + std::to_string(c.length / c.bytesPerChar) + " chars";
    if (c.type == jet::kColNumeric)
      s += ", precision " + std::to_string(c.precision) + ", scale " + std::to_string(c.scale);
    if (c.IsAutoNumber()) s += ", autonumber";
    if (c.IsFixed()) s += ", fixed";
    if ((c.type == jet::kColText || c.type == jet::kColMemo) && c.IsCompressed()) s += ", compressed unicode";
    s += "\n";
  }
  if (t.indexes.empty()) {
    s += "  indexes: none\n";
    return s;
  }
  s += "  indexes:\n";
  for (const auto& l : t.indexes) {
    const jet::RealIndex& r = t.realIndexes[l.realIndex];
    // A real index that backs the primary key is unique whatever its flags say.
    bool backsPrimary = std::any_of(t.indexes.begin(), t.indexes.end(), [&](const jet::LogicalIndex& o) {
      return o.realIndex == l.realIndex && o.kind == jet::kIdxKindPrimary;
    });
    s += "    " + l.name + ": (";
    for (size_t k = 0; k < r.columns.size(); ++k) {
      const jet::ColumnDef* c = t.ColumnByNumber(r.columns[k].number);
      if (k) s += ", ";
      s += (c ? c->name : "?") + (r.columns[k].ascending ? " asc" : " desc");
    }
    s += ")";
    if (l.kind == jet::kIdxKindPrimary) s += " primary";
    if ((r.flags & jet::kIdxFlagUnique) || backsPrimary) s += " unique";
    if (l.kind == jet::kIdxKindForeign) s += " foreign-key";
    if (r.flags & jet::kIdxFlagRequired) s += " required";
    if (r.flags & jet::kIdxFlagIgnoreNulls) s += " ignore-nulls";
    s += "\n";
  }
  return s;
}

std::string SchemaFileText(const jet::Database& db, const std::string& fileName) {
  std::string s = "file: " + fileName + "\nformat: " + db.File().Format().name + "\n";
  auto tables = db.UserTables();
  std::stable_sort(tables.begin(), tables.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
  });
  for (const auto& t : tables) s += "\n" + SchemaText(db, t);
  return s;
}

}  // namespace brenvo::mdb
