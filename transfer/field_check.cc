#include "transfer/field_check.h"

#include "transfer/estimate.h"
#include "transfer/values.h"
#include "util/korean.h"
#include "util/trap.h"

namespace brenvo {
namespace {
constexpr const char* kProc = "ChkFieldSizeAndCSVChar";
constexpr const char* kOwner = "Form FrmMain";

const ado::FieldInfo* FindField(const ado::Recordset& rs, const std::string& name) {
  for (int i = 0; i < rs.FieldCount(); ++i)
    if (rs.Field(i).name == name) return &rs.Field(i);
  return nullptr;
}

// The first value of the first row as text ("" for NULL).
std::optional<std::string> FirstValue(ado::Connection& conn, const std::string& sql) {
  auto rs = conn.OpenQuery(sql);
  std::optional<std::string> v;
  if (!rs->Eof()) v = ValueToText(rs->GetValue(0));
  ado::CloseADO(rs);
  return v;
}

}  // namespace

ColumnClass ClassifyColumn(int t) {
  switch (t) {
    case ado::adSmallInt: case ado::adInteger: case ado::adDouble: case ado::adDate:
    case ado::adTinyInt: case ado::adUnsignedTinyInt: case 18: case 19:
    case ado::adChar: case ado::adDBDate: case ado::adDBTimeStamp:
    case ado::adLongVarChar: case ado::adLongVarWChar:
      return ColumnClass::Skipped;
    case ado::adVarChar: case ado::adVarWChar:
      return ColumnClass::Compared;
    default:
      return ColumnClass::Unlisted;
  }
}

bool ChkFieldSizeAndCSVChar(Console& console, ado::Connection& source, ado::Connection& target) {
  Prompter& p = console.prompter();
  TableCatalogue& cat = console.catalogue();
  bool result = true;
  const bool toCs = console.Direction() == 0;

  // Two passes. The first compares the declared sizes of every table and
  // logs each difference where it is found; the narrower target columns are
  // then asked about once, all together. Only after a Yes does the second
  // pass (toward CS) measure the stored values, column by column in the same
  // order, the first value too long ending the check.
  struct Measure {
    int entry;
    std::string table, column;
    long long toSize;
  };
  std::vector<std::string> narrower;
  std::vector<Measure> measures;

  console.SetProgressMax(1, cat.Count());
  console.SetProgressValue(1, 0);
  for (int i = 0; i < cat.Count(); ++i) {
    const CatalogueEntry& e = cat.at(i);
    if (console.CancelRequested()) {
      console.AppendLog("필드 체크 중지: " + e.table + "부터 비교하지 않았습니다.");
      console.SetStatus("");
      return false;
    }
    // A table whose count could not be read is examined like one with rows.
    if (e.marked && (e.expectedRows > 0 || e.expectedRows == kUnknownRowCount)) {
      console.SetCurrentTable(i);
      console.SetStatus(e.table + " 필드길이 비교 중...");
      std::unique_ptr<ado::Recordset> src, dst;
      Trap(p, kProc, kOwner, [&] { src = source.OpenQuery("SELECT * FROM " + e.table + " WHERE 0"); });
      Trap(p, kProc, kOwner, [&] { dst = target.OpenQuery("SELECT * FROM " + e.table + " WHERE 0"); });
      int columns = src ? src->FieldCount() : 0;
      console.SetProgressMax(0, columns);
      console.SetProgressValue(0, 0);
      for (int c = 0; c < columns; ++c) {
        const ado::FieldInfo& from = src->Field(c);
        switch (ClassifyColumn(from.type)) {
          case ColumnClass::Skipped:
            break;
          case ColumnClass::Unlisted:
            p.Message("알수없는 Field Type 발견:" + std::to_string(from.type));
            break;
          case ColumnClass::Compared:
            Trap(p, kProc, kOwner, [&] {
              const ado::FieldInfo* to = dst ? FindField(*dst, from.name) : nullptr;
              if (!to) throw BrenvoError(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.", "ADODB.Fields");
              if (to->type == ado::adDBDate || to->type == ado::adLongVarChar) return;
              if (from.definedSize != to->definedSize) {
                std::string line = "다른 필드길이 발견:" + e.table + "." + from.name +
                                   " / From=" + std::to_string(from.definedSize) +
                                   ", To=" + std::to_string(to->definedSize);
                console.AppendLog(line);
                if (to->definedSize < from.definedSize) narrower.push_back(line);
              }
              if (toCs) measures.push_back({i, e.table, from.name, to->definedSize});
            });
            break;
        }
        console.SetProgressValue(0, c + 1);
      }
      ado::CloseADO(src);
      ado::CloseADO(dst);
    }
    console.SetProgressValue(1, i + 1);
  }
  console.SetStatus("");
  if (!narrower.empty() && !p.Ask(NarrowerColumnsQuestion(narrower), {}, Icon::Exclamation, true)) return false;

  console.SetProgressMax(0, static_cast<int>(measures.size()));
  console.SetProgressValue(0, 0);
  for (size_t k = 0; k < measures.size() && result; ++k) {
    const Measure& m = measures[k];
    if (console.CancelRequested()) {
      console.AppendLog("필드 체크 중지: " + m.table + "." + m.column + "부터 측정하지 않았습니다.");
      result = false;
      break;
    }
    console.SetCurrentTable(m.entry);
    console.SetStatus(m.table + "." + m.column + " 데이터 길이 측정 중...");
    Trap(p, kProc, kOwner, [&] {
      // Every value empty or NULL: nothing can be too long.
      auto maxText = FirstValue(source, "SELECT MAX(LENB(StrConv(" + m.column + ",128))) FROM " + m.table);
      long long maxBytes = (maxText && !maxText->empty()) ? ValueToInteger(*maxText) : 0;
      if (maxBytes <= m.toSize) return;
      auto longest = FirstValue(source, "SELECT " + m.column + " FROM " + m.table + " WHERE LENB(StrConv(" +
                                            m.column + ",128)) >= " + std::to_string(maxBytes));
      std::string value = longest.value_or("");
      std::string report = "필드길이 초과 데이터 발견(2Byte오류):" + m.table + "." + m.column + "\r\nData:" + value +
                           "\r\nField Size:" + std::to_string(m.toSize) +
                           "\r\nData  Size:" + std::to_string(ByteLen(value));
      console.AppendLog(report);
      p.Message(report);
      result = false;
    });
    console.SetProgressValue(0, static_cast<int>(k + 1));
  }
  console.SetStatus("");
  return result;
}

std::string NarrowerColumnsQuestion(const std::vector<std::string>& lines) {
  // A box taller than the screen hides its buttons; the log pane has them all.
  constexpr size_t kShown = 30;
  std::string text;
  for (size_t i = 0; i < lines.size() && i < kShown; ++i) text += lines[i] + "\r\n";
  if (lines.size() > kShown)
    text += "... 외 " + std::to_string(lines.size() - kShown) + "건 (작업 로그에 모두 있습니다)\r\n";
  return text + "그래도, 진행하시겠습니까?";
}

}  // namespace brenvo
