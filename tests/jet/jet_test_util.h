// Helpers shared by the Jet engine tests.
#pragma once

#include <filesystem>
#include <string>

#include "db/jet/database.h"
#include "support/test_support.h"
#include "tools/brenvo-mdb/csv_format.h"

namespace brenvo::test {

inline std::filesystem::path JetCompat() { return FixturesDir() / "jet-compat"; }
inline std::filesystem::path BrenvoFixtures() { return FixturesDir() / "brenvo"; }

inline std::string ExportToString(const jet::Database& db, const std::string& table) {
  std::string out;
  mdb::ExportCsv(db, table, [&](std::string_view piece) {
    out.append(piece);
    return true;
  });
  return out;
}

// True when got equals want except where want holds U+FFFD and got a
// character outside ASCII: a reference export that lost the letters of a
// code-page file (the German Jet 3 file's ü and ö) still pins every other
// byte.
inline bool SameButForLostCharacters(const std::string& got, const std::string& want) {
  static const std::string kLost = "\xEF\xBF\xBD";
  size_t g = 0, w = 0;
  while (g < got.size() && w < want.size()) {
    if (want.compare(w, kLost.size(), kLost) == 0 && static_cast<unsigned char>(got[g]) >= 0x80) {
      unsigned char lead = static_cast<unsigned char>(got[g]);
      g += lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
      w += kLost.size();
    } else if (got[g++] != want[w++]) {
      return false;
    }
  }
  return g == got.size() && w == want.size();
}

inline std::string JetConnectionString(const std::string& path, const std::string& password) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=" + password;
}

}  // namespace brenvo::test
