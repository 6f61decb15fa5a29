#include "tools/brenvo-mdb/write_commands.h"

#include <cstdio>
#include <fstream>

#include "db/jet/check.h"
#include "db/jet/resort.h"
#include "db/jet/create.h"
#include "db/jet/writer.h"
#include "tools/brenvo-mdb/csv_import.h"
#include "util/error.h"

namespace brenvo::mdb {

int RunCreate(const std::string& file, const std::string& schemaFile, const std::string& password) {
  std::ifstream in(schemaFile, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "brenvo-mdb: cannot read %s\n", schemaFile.c_str());
    return 1;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  jet::CreateDatabase(file, password, jet::ParseSchema(text));
  return 0;
}

int RunCheck(const std::string& file, const std::string& password, bool systemTables) {
  jet::CheckReport r = jet::CheckDatabase(file, password, systemTables);
  for (const auto& f : r.faults) std::fprintf(stdout, "FAULT %s\n", f.c_str());
  for (const auto& n : r.notes) std::fprintf(stdout, "note  %s\n", n.c_str());
  std::fprintf(stdout, "%s: %ld tables, %ld rows, %ld index entries, %zu faults\n", file.c_str(), r.tables, r.rows,
               r.indexEntries, r.faults.size());
  return r.Ok() ? 0 : 1;
}

int RunResort(const std::string& file, const std::string& password) {
  jet::ResortReport r = jet::ResortGeneral(file, password);
  std::fprintf(stdout, "%s: General sort order, %ld tables, %ld text indexes rebuilt\n", file.c_str(), r.tables,
               r.indexes);
  return 0;
}

int RunImport(const std::string& file, const std::string& table, const std::string& csv,
              const std::string& password) {
  std::ifstream in(csv, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "brenvo-mdb: cannot read %s\n", csv.c_str());
    return 1;
  }
  auto writer = jet::JetWriter::Open(file, password);
  uint64_t n = ImportCsv(*writer, table, in);
  writer->Close();
  std::fprintf(stdout, "%llu rows imported into %s\n", static_cast<unsigned long long>(n), table.c_str());
  return 0;
}

}  // namespace brenvo::mdb
