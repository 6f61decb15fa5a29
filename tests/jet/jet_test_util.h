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

inline std::string JetConnectionString(const std::string& path, const std::string& password) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=" + password;
}

}  // namespace brenvo::test
