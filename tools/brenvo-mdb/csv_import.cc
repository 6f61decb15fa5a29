#include "tools/brenvo-mdb/csv_import.h"

#include "db/jet/jet_errors.h"

namespace brenvo::mdb {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool ReadCsvRecord(std::istream& in, std::vector<std::optional<std::string>>& fields) {
  fields.clear();
  int c = in.get();
  if (c == EOF) return false;
  std::string cur;
  bool quoted = false, any = false;
  for (;; c = in.get()) {
    if (c == EOF || c == '\n' || (c == '\r' && in.peek() == '\n')) {
      if (c == '\r') in.get();
      if (any || quoted || !cur.empty() || !fields.empty()) {
        if (quoted || !cur.empty()) fields.emplace_back(cur);
        else fields.emplace_back(std::nullopt);
      }
      return true;
    }
    any = true;
    if (c == ',') {
      if (quoted || !cur.empty()) fields.emplace_back(cur);
      else fields.emplace_back(std::nullopt);
      cur.clear();
      quoted = false;
      continue;
    }
    if (c == '"' && cur.empty() && !quoted) {
      quoted = true;
      for (;;) {
        int d = in.get();
        if (d == EOF) throw BrenvoError(jet::kErrFail, "CSV: a quoted field is not closed.", "brenvo-mdb");
        if (d == '"') {
          if (in.peek() == '"') {
            in.get();
            cur.push_back('"');
            continue;
          }
          break;
        }
        cur.push_back(static_cast<char>(d));
      }
      continue;
    }
    cur.push_back(static_cast<char>(c));
  }
}

uint64_t ImportCsv(jet::JetWriter& writer, const std::string& table, std::istream& csv) {
  jet::TableWriter& t = writer.Table(table);
  const auto& cols = t.Def().columns;
  std::vector<std::optional<std::string>> rec;
  if (!ReadCsvRecord(csv, rec)) return 0;
  std::vector<int> target;  // CSV field -> table column position
  for (const auto& name : rec) {
    int found = -1;
    for (size_t i = 0; i < cols.size(); ++i)
      if (name && jet::SameName(cols[i].name, *name)) found = static_cast<int>(i);
    if (found < 0)
      throw BrenvoError(jet::kErrNoValue, "CSV column '" + name.value_or("") + "' is not in table " + table + ".",
                        "brenvo-mdb");
    target.push_back(found);
  }
  uint64_t stored = 0, line = 1;
  std::vector<std::optional<ado::Value>> values(cols.size());
  while (ReadCsvRecord(csv, rec)) {
    ++line;
    std::fill(values.begin(), values.end(), std::nullopt);
    for (size_t f = 0; f < rec.size() && f < target.size(); ++f) {
      if (!rec[f]) continue;
      const auto& c = cols[static_cast<size_t>(target[f])];
      if (c.type == jet::kColBinary || c.type == jet::kColOle) {
        ado::Bytes b;
        const std::string& h = *rec[f];
        for (size_t i = 0; i + 1 < h.size(); i += 2) {
          int hi = HexDigit(h[i]), lo = HexDigit(h[i + 1]);
          if (hi < 0 || lo < 0) jet::ThrowTypeMismatch();
          b.push_back(static_cast<uint8_t>(hi * 16 + lo));
        }
        values[static_cast<size_t>(target[f])] = ado::Value(std::move(b));
      } else {
        values[static_cast<size_t>(target[f])] = ado::Value(*rec[f]);
      }
    }
    try {
      t.Insert(values);
    } catch (const BrenvoError& e) {
      writer.Commit();
      throw BrenvoError(e.number(), "line " + std::to_string(line) + ": " + e.description(), e.source());
    }
    ++stored;
  }
  writer.Commit();
  return stored;
}

}  // namespace brenvo::mdb
