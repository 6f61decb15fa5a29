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

[[noreturn]] void Refuse(const std::string& what) { throw BrenvoError(jet::kErrFail, what, "brenvo-mdb"); }

// Where s stops being UTF-8 as the standard defines it (no overlong forms,
// no encoded surrogates, nothing above U+10FFFF), or npos. An encoded
// surrogate half stored in a memo would pair with a neighbour on reading.
size_t InvalidUtf8At(const std::string& s, bool& surrogate) {
  surrogate = false;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t cp, min;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      n = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      n = 4, cp = c & 0x07, min = 0x10000;
    } else {
      return i;
    }
    if (i + n > s.size()) return i;
    for (size_t k = 1; k < n; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF) return i;
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      surrogate = true;
      return i;
    }
    i += n;
  }
  return std::string::npos;
}

}  // namespace

bool ReadCsvRecord(std::istream& in, std::vector<std::optional<std::string>>& fields, uint64_t* line) {
  fields.clear();
  int c = in.get();
  if (c == EOF) return false;
  const uint64_t startLine = line ? *line : 0;
  auto newline = [&] {
    if (line) ++*line;
  };
  std::string cur;
  bool quoted = false, any = false;
  for (;; c = in.get()) {
    if (c == EOF || c == '\n' || (c == '\r' && in.peek() == '\n')) {
      if (c == '\r') in.get();
      if (c != EOF) newline();
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
        if (d == EOF)
          throw BrenvoError(jet::kErrFail,
                            "CSV: the quoted field that begins on line " + std::to_string(startLine) +
                                " is not closed.",
                            "brenvo-mdb");
        if (d == '\n') newline();
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
  uint64_t line = 1, stored = 0, recordLine = 1;
  std::vector<std::optional<ado::Value>> values(cols.size());
  try {
    if (!ReadCsvRecord(csv, rec, &line)) return 0;
    // The first record names every column of the table once, in any order.
    std::vector<int> target;  // CSV field -> table column position
    std::vector<bool> named(cols.size(), false);
    for (const auto& name : rec) {
      int found = -1;
      for (size_t i = 0; i < cols.size(); ++i)
        if (name && jet::SameName(cols[i].name, *name)) found = static_cast<int>(i);
      if (found < 0)
        throw BrenvoError(jet::kErrNoValue, "CSV column '" + name.value_or("") + "' is not in table " + table + ".",
                          "brenvo-mdb");
      if (named[static_cast<size_t>(found)]) Refuse("CSV column '" + *name + "' is named twice.");
      named[static_cast<size_t>(found)] = true;
      target.push_back(found);
    }
    for (size_t i = 0; i < cols.size(); ++i)
      if (!named[i]) Refuse("CSV: the first line does not name column '" + cols[i].name + "' of table " + table + ".");

    for (;;) {
      recordLine = line;
      if (!ReadCsvRecord(csv, rec, &line)) break;
      if (rec.size() != target.size())
        Refuse("line " + std::to_string(recordLine) + ": " + std::to_string(rec.size()) + " fields, the table has " +
               std::to_string(target.size()) + " columns.");
      std::fill(values.begin(), values.end(), std::nullopt);
      for (size_t f = 0; f < rec.size(); ++f) {
        const auto& c = cols[static_cast<size_t>(target[f])];
        const std::string where = "line " + std::to_string(recordLine) + ", column " + std::to_string(f + 1) +
                                  " (" + c.name + ")";
        if (!rec[f]) continue;
        bool surrogate = false;
        if (size_t at = InvalidUtf8At(*rec[f], surrogate); at != std::string::npos)
          Refuse(where + ": " + (surrogate ? "an encoded surrogate (U+D800..U+DFFF) at byte "
                                           : "invalid UTF-8 at byte ") +
                 std::to_string(at + 1) + ".");
        if (c.type == jet::kColBinary || c.type == jet::kColOle) {
          ado::Bytes b;
          const std::string& h = *rec[f];
          if (h.size() % 2) Refuse(where + ": binary values are hexadecimal digits in pairs.");
          for (size_t i = 0; i + 1 < h.size(); i += 2) {
            int hi = HexDigit(h[i]), lo = HexDigit(h[i + 1]);
            if (hi < 0 || lo < 0) Refuse(where + ": binary values are hexadecimal digits in pairs.");
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
        throw BrenvoError(e.number(), "line " + std::to_string(recordLine) + ": " + e.description(), e.source());
      }
      ++stored;
    }
  } catch (const BrenvoError& e) {
    // The rows before the bad one are kept: they are committed, and the
    // message says how many there are.
    writer.Commit();
    throw BrenvoError(e.number(),
                      e.description() + " " + std::to_string(stored) + (stored == 1 ? " row was" : " rows were") +
                          " stored before it.",
                      e.source());
  }
  writer.Commit();
  return stored;
}

}  // namespace brenvo::mdb
