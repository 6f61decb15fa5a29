#include "db/jet/resort.h"

#include "db/jet/byte_order.h"
#include "db/jet/database.h"
#include "db/jet/header.h"
#include "db/jet/index_key.h"
#include "db/jet/write_pager.h"
#include "db/jet/writer.h"

namespace brenvo::jet {

ResortReport ResortGeneral(const std::string& path, const std::string& password) {
  ResortReport report;
  auto w = JetWriter::Open(path, password);
  std::vector<TableWriter*> tables;
  for (const auto& e : w->Db().Catalog())
    if (e.IsTable()) tables.push_back(&w->TableAtPage(e.tableDefPage));
  for (TableWriter* t : tables) t->ResortGeneral(true);
  for (TableWriter* t : tables) {
    t->ResortGeneral(false);
    ++report.tables;
    for (const auto& ri : t->Def().realIndexes)
      for (const auto& ic : ri.columns)
        if (const ColumnDef* c = t->Def().ColumnByNumber(ic.number); c && c->type == kColText) {
          ++report.indexes;
          break;
        }
  }
  w->SetSortOrder(kSortGeneral);
  w->Close();
  return report;
}

}  // namespace brenvo::jet
