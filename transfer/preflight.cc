#include "transfer/preflight.h"

#include "util/error.h"

namespace brenvo {

std::vector<SourceTableProblem> CheckSourceTables(const TableCatalogue& catalogue, ado::Connection& source,
                                                  bool sourceIsMySql) {
  std::vector<SourceTableProblem> problems;
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
