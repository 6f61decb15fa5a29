#include "transfer/estimate.h"

#include <cfenv>
#include <cmath>
#include <cstdio>

#include "transfer/values.h"
#include "util/korean.h"
#include "util/trap.h"

namespace brenvo {
namespace {
constexpr const char* kProc = "GetTableInfo";
constexpr const char* kOwner = "Form Form1";

std::string CountColumn(int32_t count) {
  if (count == kUnknownRowCount) return "?건";
  return FormatThousands(count) + "건";
}
}  // namespace

// Measured on dbMain-large (516,325 rows) and dbMain (36,325 rows) with
// bench/convert/run (local server) and bench/network/run (the CS server
// 10 ms away each way), then rounded down by about a quarter: an estimate
// should rather promise too long than too short, and a busier machine or a
// farther server is slower. The old fixed rates (15, 50 and 250 rows a
// second plus 50 seconds) belonged to a row-by-row copier and were three
// orders of magnitude off for this one.
int CopyRate(int direction, bool local) {
  switch (direction) {
    case 0: return local ? 40000 : 30000;
    case 1: return local ? 50000 : 45000;
    default: return 90000;  // Access to Access, no server
  }
}

int FixedSeconds(int direction, bool local) {
  // Over a network every table costs a few round trips more.
  return direction != 2 && !local ? 10 : 5;
}

int32_t EstimateSeconds(long long totalRows, int rate, int fixedSeconds) {
  double seconds = static_cast<double>(totalRows) / rate + fixedSeconds;
  // nearbyint rounds in the current mode, which is to nearest with ties to even.
  std::fesetround(FE_TONEAREST);
  return static_cast<int32_t>(std::nearbyint(seconds));
}

bool GetTableInfo(Console& console, const TransferServices& services) {
  std::unique_ptr<ado::Connection> conn;
  Prompter& p = console.prompter();
  TableCatalogue& cat = console.catalogue();
  // Counts of an earlier estimate (another direction, another customer) must
  // not survive a failed one: whatever is not counted now is unknown.
  for (int i = 0; i < cat.Count(); ++i)
    if (cat.at(i).marked) cat.at(i).expectedRows = kUnknownRowCount;
  bool opened = false;
  bool trapped = !Trap(p, kProc, kOwner, [&] {
    opened = console.Direction() == 1 ? services.openMySql(conn) : services.openMdb(conn, false);
  });
  // An opening that raised has been reported once; counting on a closed
  // connection would only repeat that report for every ticked table.
  if (trapped || !opened) return false;

  for (int i = 0; i < cat.Count(); ++i) {
    CatalogueEntry& e = cat.at(i);
    if (!e.marked) continue;
    // A count that cannot be read must not leave an older one in place: a
    // table taken for empty would still have its target emptied. After a
    // stop request the remaining tables stay uncounted for the same reason.
    int32_t count = kUnknownRowCount;
    if (console.CancelRequested()) {
      e.expectedRows = count;
      continue;
    }
    console.SetStatus(e.table + " 건수 세는 중...");
    Trap(p, kProc, kOwner, [&] {
      auto rs = conn->OpenQuery("SELECT COUNT(*) FROM " + e.table);
      if (rs->Eof()) throw BrenvoError(3021, "Either BOF or EOF is True, or the current record has been deleted.");
      count = static_cast<int32_t>(ValueToInteger(rs->GetValue(0)));
      ado::CloseADO(rs);
    });
    e.expectedRows = count;
  }
  console.SetStatus("");
  Trap(p, kProc, kOwner, [&] { ado::CloseADO(conn); });
  return true;
}

bool btnTime_Click(Console& console, const TransferServices& services) {
  console.ClearLog();
  if (!GetTableInfo(console, services)) return false;
  // A stopped estimate has no total; the copy run it belongs to stops too.
  if (console.CancelRequested()) {
    console.AppendLog("예상시간 계산을 중지했습니다.");
    return false;
  }
  TableCatalogue& cat = console.catalogue();
  long long total = 0;
  bool allCounted = true;
  for (int i = 0; i < cat.Count(); ++i) {
    const CatalogueEntry& e = cat.at(i);
    if (!e.marked) continue;
    console.SetCurrentTable(i);
    console.AppendLog(rpad(e.table, 20, ".") + LPad(CountColumn(e.expectedRows), 10, "."));
    if (e.expectedRows > 0) total += e.expectedRows;
    if (e.expectedRows == kUnknownRowCount) allCounted = false;
  }
  console.AppendLog(std::string(30, '-'));
  console.AppendLog(rpad("총건수", 20, ".") + LPad(FormatThousands(total) + "건", 10, "."));
  const int direction = console.Direction();
  const bool local = console.Checked(Control::chkLocal);
  int rate = CopyRate(direction, local);
  int32_t secs = EstimateSeconds(total, rate, FixedSeconds(direction, local));
  char hms[48];
  std::snprintf(hms, sizeof hms, "%02d:%02d:%02d", secs / 3600, secs % 3600 / 60, secs % 60);
  console.AppendLog("예상시간(초당 " + std::to_string(rate) + "건) " + hms);
  return allCounted;
}

}  // namespace brenvo
