#include "transfer/preflight.h"

#include "util/error.h"

namespace brenvo {

namespace {

// Every marked table of a server in one statement (one round trip, not one
// a table): true when the server opens them all.
bool AllOpenAtOnce(const TableCatalogue& catalogue, ado::Connection& source) {
  std::string sql;
  for (const CatalogueEntry& e : catalogue.entries())
    if (e.marked) sql += (sql.empty() ? "" : " UNION ALL ") + ("SELECT 1 FROM " + e.table + " WHERE 0");
  if (sql.empty()) return true;
  try {
    auto rs = source.OpenQuery(sql);
    (void)rs->Eof();
    ado::CloseADO(rs);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

std::vector<SourceTableProblem> CheckSourceTables(const TableCatalogue& catalogue, ado::Connection& source,
                                                  bool sourceIsMySql) {
  std::vector<SourceTableProblem> problems;
  // A server that refuses the tables together is asked table by table,
  // which names the ones it cannot open.
  if (sourceIsMySql && AllOpenAtOnce(catalogue, source)) return problems;
  for (const CatalogueEntry& e : catalogue.entries()) {
    if (!e.marked) continue;
    try {
      // The Jet engine opens a table lazily and reads its first row at once;
      // a server would send a whole keyless table for the same question.
      auto rs = sourceIsMySql ? source.OpenQuery("SELECT * FROM " + e.table + " WHERE 0")
                              : source.OpenTable(e.table, ado::OpenMode::Read);
      (void)rs->Eof();
      ado::CloseADO(rs);
    } catch (...) {
      ErrorInfo info = DescribeCurrentException();
      problems.push_back({e.table, "Error " + std::to_string(info.number) + " (" + info.description + ")"});
    }
  }
  return problems;
}

bool PreflightCheck(Console& console, ado::Connection& source, ado::Connection& target) {
  (void)target;
  console.SetStatus("원본 테이블 확인 중...");
  auto problems = CheckSourceTables(console.catalogue(), source, console.Direction() == 1);
  console.SetStatus("");
  if (problems.empty()) return true;
  std::string names;
  for (const auto& p : problems) {
    console.AppendLog("원본 테이블 열기 실패: " + p.table + " - " + p.reason);
    names += "\r\n  " + p.table;
  }
  std::string text = "원본 DB에서 다음 테이블을 찾을 수 없거나 열 수 없습니다:" + names +
                     "\r\n\r\n대상 DB는 변경하지 않았습니다. 작업을 중지합니다.";
  console.AppendLog("작업 중지: 원본 테이블 " + std::to_string(problems.size()) + "개를 열 수 없음 (대상 변경 없음)");
  console.prompter().Message(text);
  return false;
}

}  // namespace brenvo
