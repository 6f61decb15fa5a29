#include "jet_read_all.h"

#include "db/jet/database.h"
#include "db/jet/query.h"
#include "db/jet/sql.h"
#include "tools/brenvo-mdb/csv_format.h"
#include "util/error.h"

namespace brenvo::test {

ReadAllResult ReadAllJet(std::vector<uint8_t> bytes, const std::string& password) {
  ReadAllResult r;
  try {
    std::shared_ptr<const jet::Database> db =
        jet::Database::OpenSource(jet::MakeMemorySource(std::move(bytes)), "fuzz.mdb", password);
    mdb::SchemaFileText(*db, "fuzz.mdb");
    for (const auto& e : db->Catalog()) {
      if (!e.IsTable()) continue;
      const jet::TableDef& t = db->Table(e.name);
      mdb::SchemaText(*db, e.name);
      mdb::ExportCsv(*db, e.name, [&](std::string_view piece) {
        for (char c : piece) r.rows += c == '\n';
        return true;
      });
      std::vector<std::string> statements = {"SELECT COUNT(*) FROM [" + e.name + "]"};
      for (const auto& c : t.columns)
        if (c.type == jet::kColText || c.type == jet::kColMemo) {
          statements.push_back("SELECT MAX(LENB(StrConv([" + c.name + "],128))) FROM [" + e.name + "]");
          statements.push_back("SELECT [" + c.name + "] FROM [" + e.name + "] WHERE LENB(StrConv([" + c.name +
                               "],128)) >= 2");
          break;
        }
      for (const auto& text : statements) {
        if (e.name.find(']') != std::string::npos) break;  // not expressible in brackets
        auto st = jet::sql::Parse(text);
        jet::Query q(db, std::get<jet::sql::SelectStatement>(std::move(st)));
        std::vector<ado::Value> row;
        while (q.Next(row)) {
        }
      }
    }
    r.ok = true;
  } catch (const BrenvoError& e) {
    r.errorNumber = e.number();
    r.description = e.description();
  }
  return r;
}

}  // namespace brenvo::test
