#include "transfer/sort_preflight.h"

#include <chrono>
#include <map>
#include <unordered_set>

#include "transfer/values.h"
#include "util/error.h"
#include "util/korean.h"

namespace brenvo {

const char* const kResortQuestion =
    "대상 파일은 한국어 정렬 순서를 사용하여 일부 값을 저장할 수 없습니다. 원본을 백업하고 일반 정렬 순서로 바꾼 뒤 "
    "진행하시겠습니까?";

SortKeyCheck CheckSortKeys(const TableCatalogue& catalogue, ado::Connection& source, ado::Connection& target) {
  SortKeyCheck out;
  // The tables and columns concerned, per table in catalogue order.
  std::vector<std::pair<std::string, std::vector<ado::Connection::SortedTextColumn>>> work;
  std::vector<std::string> tables;
  for (const CatalogueEntry& e : catalogue.entries()) {
    if (!e.marked) continue;
    auto cols = target.PartlyKeyedTextColumns(e.table);
    if (cols.empty()) continue;
    work.emplace_back(e.table, std::move(cols));
    tables.push_back(e.table);
  }
  if (work.empty()) return out;
  out.tables = static_cast<long>(work.size());
  target.GatherStoredKeys(tables, &source);

  for (const auto& [table, cols] : work) {
    // One column may sit in several indexes: read and ask once, name the first.
    std::vector<const ado::Connection::SortedTextColumn*> unique;
    for (const auto& c : cols) {
      bool seen = false;
      for (const auto* u : unique) seen = seen || u->column == c.column;
      if (!seen) unique.push_back(&c);
    }
    std::string list;
    for (const auto* c : unique) list += (list.empty() ? "" : ", ") + c->column;
    auto rs = source.OpenQuery("SELECT " + list + " FROM " + table);
    std::vector<std::unordered_set<std::string>> distinct(unique.size());
    for (; !rs->Eof(); rs->MoveNext())
      for (size_t j = 0; j < unique.size(); ++j) {
        const ado::Value& v = rs->GetValue(static_cast<int>(j));
        if (ado::IsNull(v)) continue;
        ++out.valuesRead;
        if (auto text = ValueToText(v)) distinct[j].insert(std::move(*text));
      }
    ado::CloseADO(rs);
    for (size_t j = 0; j < unique.size(); ++j) {
      SortKeyGap gap{table, unique[j]->column, unique[j]->index, unique[j]->order, 0, {}};
      for (const auto& text : distinct[j]) {
        ++out.distinctChecked;
        if (target.CanKeyText(table, unique[j]->column, text)) continue;
        ++gap.values;
        if (gap.samples.size() < kSortGapSamples) gap.samples.push_back(text);
      }
      std::unordered_set<std::string>().swap(distinct[j]);
      if (gap.values) out.gaps.push_back(std::move(gap));
    }
  }
  return out;
}

SortDecision SortPreflight(Console& console, ado::Connection& source, ado::Connection& target) {
  console.SetStatus("대상 파일 정렬 순서 확인 중...");
  auto start = std::chrono::steady_clock::now();
  SortKeyCheck check;
  try {
    check = CheckSortKeys(console.catalogue(), source, target);
  } catch (...) {
    console.SetStatus("");
    ErrorInfo e = DescribeCurrentException();
    std::string why = "Error " + std::to_string(e.number) + " (" + e.description + ")";
    console.AppendLog("정렬 순서 확인 실패: " + why);
    console.prompter().Message("대상 파일의 정렬 순서를 확인할 수 없어 작업을 중지합니다.\r\n" + why +
                               "\r\n\r\n대상 DB는 변경하지 않았습니다.");
    return SortDecision::Stop;
  }
  console.SetStatus("");
  if (check.tables == 0) return SortDecision::Proceed;
  long long seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  console.AppendLog("정렬 순서 확인: 테이블 " + std::to_string(check.tables) + "개, 값 " +
                    FormatThousands(check.valuesRead) + "건 (서로 다른 값 " + FormatThousands(check.distinctChecked) +
                    "건), 경과시간 " + FormatElapsed(seconds));
  if (check.gaps.empty()) return SortDecision::Proceed;

  console.AppendLog("대상 파일의 정렬 순서로 키를 만들 수 없는 값:");
  size_t shown = 0;
  for (const auto& g : check.gaps) {
    console.AppendLog("  " + g.table + "." + g.column + " (인덱스 " + g.index + ", " + g.order + " 정렬): " +
                      FormatThousands(g.values) + "건");
    for (const auto& s : g.samples) {
      if (shown == kSortGapSamples) break;
      console.AppendLog("    '" + s + "'");
      ++shown;
    }
  }
  if (!console.prompter().Ask(kResortQuestion, {}, Icon::Question, true)) {
    console.AppendLog("정렬 순서 변경: 아니오");
    return SortDecision::Stop;
  }
  console.AppendLog("정렬 순서: 백업 후 일반 정렬 순서로 바꿈");
  return SortDecision::ResortGeneral;
}

}  // namespace brenvo
