// brenvo-mdb: look into a Jet database without Access: Jet 4 files, and
// Access 97 (Jet 3) files for reading only (import refuses them).
//
//   brenvo-mdb tables FILE            user tables, catalogue order
//   brenvo-mdb schema FILE [TABLE]    columns and indexes
//   brenvo-mdb count FILE TABLE       rows on the table's pages
//   brenvo-mdb export FILE TABLE      CSV on standard output
//   brenvo-mdb create FILE --schema SCHEMA   a new file (schema: db/jet/create.h)
//   brenvo-mdb check FILE [--system]  integrity check (exit 1 on any fault);
//                                     --system: the system tables too
//   brenvo-mdb import FILE TABLE CSV  append the CSV's rows
//   brenvo-mdb resort FILE --general  text sort order to General, every
//                                     text index rebuilt
//
// Every command takes --password PW. Exit status: 0 done, 1 the engine
// refused or failed (message on standard error), 2 wrong usage.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "db/jet/database.h"
#include "db/jet/table_scan.h"
#include "tools/brenvo-mdb/csv_format.h"
#include "tools/brenvo-mdb/write_commands.h"
#include "util/error.h"

using namespace brenvo;

namespace {

int Usage() {
  std::fputs(
      "usage: brenvo-mdb [--password PW] tables FILE\n"
      "       brenvo-mdb [--password PW] schema FILE [TABLE]\n"
      "       brenvo-mdb [--password PW] count FILE TABLE\n"
      "       brenvo-mdb [--password PW] export FILE TABLE\n"
      "       brenvo-mdb [--password PW] create FILE --schema SCHEMA\n"
      "       brenvo-mdb [--password PW] check FILE [--system]\n"
      "       brenvo-mdb [--password PW] import FILE TABLE CSV\n"
      "       brenvo-mdb [--password PW] resort FILE --general\n",
      stderr);
  return 2;
}

bool WriteOut(const std::string& s) { return std::fwrite(s.data(), 1, s.size(), stdout) == s.size(); }

std::string BaseName(const std::string& path) {
  auto p = path.find_last_of('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

int Export(const jet::Database& db, const std::string& name) {
  bool ok = mdb::ExportCsv(db, name, [](std::string_view piece) {
    return std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size();
  });
  if (!ok || std::fflush(stdout) != 0) {
    std::fputs("brenvo-mdb: cannot write the output\n", stderr);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string password;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--password") == 0) {
      if (i + 1 >= argc) return Usage();
      password = argv[++i];
    } else if (std::strncmp(argv[i], "--password=", 11) == 0) {
      password = argv[i] + 11;
    } else {
      args.emplace_back(argv[i]);
    }
  }
  if (args.size() < 2) return Usage();
  const std::string& cmd = args[0];
  const std::string& file = args[1];
  try {
    if (cmd == "tables" && args.size() == 2) {
      auto db = jet::Database::Open(file, password);
      std::string s;
      for (const auto& t : db->UserTables()) s += t + "\n";
      return WriteOut(s) ? 0 : 1;
    }
    if (cmd == "schema" && (args.size() == 2 || args.size() == 3)) {
      auto db = jet::Database::Open(file, password);
      return WriteOut(args.size() == 3 ? mdb::SchemaText(*db, args[2]) : mdb::SchemaFileText(*db, BaseName(file)))
                 ? 0
                 : 1;
    }
    if (cmd == "count" && args.size() == 3) {
      // The rows on the pages: the definition's count can be stale.
      auto db = jet::Database::Open(file, password);
      jet::TableScan scan(db->File(), db->Table(args[2]));
      jet::RowBytes row;
      unsigned long long n = 0;
      while (scan.Next(row)) ++n;
      return WriteOut(std::to_string(n) + "\n") ? 0 : 1;
    }
    if (cmd == "export" && args.size() == 3) {
      auto db = jet::Database::Open(file, password);
      return Export(*db, args[2]);
    }
    if (cmd == "create" && args.size() == 4 && args[2] == "--schema") return mdb::RunCreate(file, args[3], password);
    if (cmd == "check" && args.size() == 2) return mdb::RunCheck(file, password);
    if (cmd == "check" && args.size() == 3 && args[2] == "--system") return mdb::RunCheck(file, password, true);
    if (cmd == "resort" && args.size() == 3 && args[2] == "--general") return mdb::RunResort(file, password);
    if (cmd == "import" && args.size() == 4) return mdb::RunImport(file, args[2], args[3], password);
  } catch (...) {
    ErrorInfo e = DescribeCurrentException();
    std::fprintf(stderr, "brenvo-mdb: Error %ld (%s)\n", e.number, e.description.c_str());
    return 1;
  }
  return Usage();
}
