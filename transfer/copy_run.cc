#include "transfer/copy_run.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <optional>
#include <set>

#include "transfer/column_plan.h"
#include "transfer/estimate.h"
#include "transfer/field_check.h"
#include "transfer/preflight.h"
#include "transfer/sort_preflight.h"
#include "transfer/values.h"
#include "transfer/verify.h"
#include "util/korean.h"
#include "util/trap.h"

namespace brenvo {
namespace {

constexpr const char* kProc = "cmdStart_Click";
constexpr const char* kOwner = "Form Form1";

using Clock = std::chrono::steady_clock;

std::string Elapsed(Clock::time_point from, Clock::time_point to) {
  return FormatElapsed(std::chrono::duration_cast<std::chrono::seconds>(to - from).count());
}

// The run's own messages and questions go to the screen and are kept, so a
// run that stops can write into its log file what it showed.
class ShownLog : public Prompter {
 public:
  explicit ShownLog(Prompter& screen) : screen_(screen) {}
  void Message(const std::string& text, const std::string& title = {}, Icon icon = Icon::None) override {
    lines_.push_back("[메시지] " + OneLine(text));
    screen_.Message(text, title, icon);
  }
  bool Ask(const std::string& text, const std::string& title = {}, Icon icon = Icon::None,
           bool defaultNo = false) override {
    bool yes = screen_.Ask(text, title, icon, defaultNo);
    lines_.push_back("[질문] " + OneLine(text) + (yes ? " -> 예" : " -> 아니요"));
    return yes;
  }
  const std::vector<std::string>& lines() const { return lines_; }

  static std::string OneLine(std::string s) {
    for (size_t at; (at = s.find("\r\n")) != std::string::npos;) s.replace(at, 2, " / ");
    return s;
  }

 private:
  Prompter& screen_;
  std::vector<std::string> lines_;
};

class Run {
 public:
  Run(Console& c, const TransferServices& s, const CopyRunOptions& o)
      : c_(c), s_(s), options_(o), p_(c.prompter()) {}

  CopyRunResult Go() {
    std::string q1 = "※시작하기 전에 CS와 " + c_.AppName() + " 프로그램을 종료하세요.\r\n" +
                     "최종적으로 접속한 CS DB에 대해 작업이 이루어 집니다. 정말 시작하시겠습니까?";
    if (!p_.Ask(q1, {}, Icon::Question, true)) return result_;
    direction_ = c_.Direction();
    // Only counts read now decide anything: a table taken for empty has its
    // target emptied and nothing copied into it.
    const bool counted = btnTime_Click(c_, s_);
    if (c_.CancelRequested()) {
      result_.cancelled = true;
      StopLog("중지 요청");
      return result_;
    }
    if (!counted) {
      ++result_.errorsReported;
      Stop(UncountedMessage(), "원본의 행 수를 읽지 못함");
      return result_;
    }
    if (!p_.Ask("예상시간 계산이 완료되었습니다. 계속할까요?", {}, Icon::Question, true)) {
      StopLog("계속하지 않음");
      return result_;
    }

    if (!OpenSides()) {  // the run ends: nothing else is touched
      StopLog("DB를 열지 못함");
      return result_;
    }
    if (Checks()) CopyAll();
    else StopLog("작업 전 점검에서 중지");
    CleanUp();
    return result_;
  }

 private:
  template <typename F>
  bool Step(F&& f) {
    bool ok = Trap(p_, kProc, kOwner, std::forward<F>(f));
    if (!ok) ++result_.errorsReported;
    return ok;
  }

  std::string UncountedMessage() const {
    std::string names;
    const TableCatalogue& cat = c_.catalogue();
    for (int i = 0; i < cat.Count(); ++i)
      if (cat.at(i).marked && cat.at(i).expectedRows == kUnknownRowCount) names += "\r\n  " + cat.at(i).table;
    return "원본의 행 수를 읽지 못하여 작업을 중지합니다." + (names.empty() ? "" : "\r\n읽지 못한 테이블:" + names) +
           "\r\n\r\n대상 DB는 변경하지 않았습니다.";
  }

  // A run that stops before its first change: the reason in a message, in
  // the pane and in the log file.
  void Stop(const std::string& message, const std::string& reason) {
    p_.Message(message);
    StopLog(reason);
  }
  void StopLog(const std::string& reason) {
    c_.AppendLog("작업 중지: " + reason + " (대상 DB 변경 없음)");
    WriteLogHeader();
    copyEnd_ = Clock::now();
    Summary();
    WriteLogFile(true);
  }

  // The log file gets the header once per run, then the pane as it stands;
  // a stopped run adds what it showed.
  void WriteLogHeader() {
    if (headerWritten_) return;
    headerWritten_ = true;
    c_.FormLogFilePath();
    c_.AppendLogFile("* DB 이동방향:" + c_.DirectionCaption());
    c_.AppendLogFile("* ID:" + c_.Text(Control::Text1_0));
    c_.AppendLogFile("* DB명:" + c_.Text(Control::Text1_1));
    c_.AppendLogFile("* HOST:" + c_.Text(Control::cmbHost));
  }
  void WriteLogFile(bool withShown = false) {
    WriteLogHeader();
    std::string text = c_.LogText();
    if (withShown)
      for (const auto& l : p_.lines()) text += l + "\r\n";
    c_.AppendLogFile(text);
  }

  bool OpenSides() {
    bool ok = false;
    switch (direction_) {
      case 0:
        ok = Step([&] { ok = s_.openMdb(src_, false); }) && ok;
        if (ok) ok = s_.openMySql(dst_);
        // The checks below take a few round trips: the connections the
        // batches will go over connect meanwhile.
        if (ok) dst_->WillAppend();
        break;
      case 1:
        ok = s_.openMySql(src_);
        if (ok) ok = Step([&] { ok = s_.openMdb(dst_, false); }) && ok;
        break;
      case 2:
        ok = Step([&] { ok = s_.openMdb(src_, false); }) && ok;
        if (ok) ok = Step([&] { ok = s_.openMdb(dst_, true); }) && ok;
        break;
      default:
        break;
    }
    if (!ok) {
      ado::CloseADO(src_);
      ado::CloseADO(dst_);
    }
    return ok;
  }

  // Reads the first column of the first row of sql on conn as a whole number.
  static long long Scalar(ado::Connection& conn, const std::string& sql) {
    auto rs = conn.OpenQuery(sql);
    if (rs->Eof()) throw BrenvoError(3021, "Either BOF or EOF is True, or the current record has been deleted.");
    long long v = ValueToInteger(rs->GetValue(0));
    ado::CloseADO(rs);
    return v;
  }

  // Steps 5 to 11. False: the run stops.
  bool Checks() {
    const std::string host = c_.Text(Control::cmbHost);
    if (direction_ == 0) {
      struct Target { const char* sql; const char* label; long long tolerated; };
      for (Target t : {Target{"SELECT COUNT(*) FROM customer", "[고객]", 0},
                       Target{"SELECT COUNT(*) FROM product_m", "[상품]", 1}}) {
        long long n = 0;
        // A count that cannot be read must not pass for an empty target.
        if (!Step([&] { n = static_cast<int32_t>(Scalar(*dst_, t.sql)); })) return false;
        if (n <= t.tolerated) continue;
        std::string label = t.label;
        if (host == "localhost") {
          if (!p_.Ask("넘길곳의 " + label + " 테이블이 비어있지 않습니다.(" + std::to_string(n) + "건 존재)\r\n\r\n" +
                          "정말 처리 하시겠습니까?(localhost)",
                      {}, Icon::None, true))
            return false;
        } else {
          p_.Message("넘길곳의 " + label + " 테이블이 비어있지 않기 때문에 자료를 넘길수 없습니다.",
                     std::to_string(n) + "건 존재");
          return false;
        }
      }
    }

    // Versions that cannot be read on either side are not taken as equal.
    long long vs = 0, vt = 0;
    const char* verSql = "SELECT ver FROM dbversion WHERE dbid = 'main'";
    if (!Step([&] { vs = static_cast<int32_t>(Scalar(*src_, verSql)); })) return false;
    if (!Step([&] { vt = static_cast<int32_t>(Scalar(*dst_, verSql)); })) return false;
    if (vs != vt) {
      p_.Message("양쪽의 DB버전이 서로 다릅니다.");
      return false;
    }

    c_.ClearLog();
    runStart_ = Clock::now();
    c_.AppendLog("시작시각: " + TimeOfDayText());
    if (!PreflightCheck(c_, *src_, *dst_)) return false;
    // Into an Access file: every value must get an index key in its sort
    // order, else the file is re-sorted (after its backup) or nothing starts.
    if (direction_ != 0) {
      SortDecision sort = SortPreflight(c_, *src_, *dst_);
      if (sort == SortDecision::Stop) return false;
      resortGeneral_ = sort == SortDecision::ResortGeneral;
    }

    if (!c_.Checked(Control::chkSkipFidSize)) {
      auto stepStart = Clock::now();
      c_.AppendLog("양쪽 DB field size 비교중...(시작시각 " + TimeOfDayText() + ")");
      if (!ChkFieldSizeAndCSVChar(c_, *src_, *dst_)) return false;
      c_.AppendLog("필드 체크완료: 정상 (경과시간 " + Elapsed(stepStart, Clock::now()) + ")");
    }

    if (direction_ != 2) {
      if (!s_.dbConnect(host, c_.Text(Control::Text1_0), kCsPassword, c_.Text(Control::Text1_1))) return false;
    }

    WriteLogHeader();

    c_.SetProgressMax(1, c_.catalogue().MarkedCount());
    c_.SetProgressValue(1, 0);
    c_.SetProgressValue(0, 0);
    if (direction_ == 1 && c_.Checked(Control::chkE_FAIL)) Step([&] { FixZeroDate(*src_); });
    return true;
  }

  // What became of one marked table.
  enum class Outcome {
    Replaced,   // emptied and copied; its rows are committed (failed rows aside)
    Partial,    // a CS target left with the rows stored before a stop
    Unchanged,  // rolled back, or never touched
  };
  struct TableDone {
    std::string table;
    Outcome outcome = Outcome::Unchanged;
    long long stored = 0;
    long long failed = 0;
    ColumnPlan plan;
    bool planned = false;
    // The rows the copy read, as the read-back compares them.
    std::vector<uint64_t> sourceDigests;
  };

  // Before the first change to an Access file, a copy of it; no copy, no change.
  bool Backup() {
    if (direction_ == 0) return true;
    if (!s_.backupMdb) {
      c_.AppendLog("백업: 백업 기능 없음");
      return true;
    }
    c_.SetStatus("대상 파일 백업 중...");
    std::string path;
    try {
      path = s_.backupMdb(*dst_, direction_ == 2);
    } catch (...) {
      c_.SetStatus("");
      ++result_.errorsReported;
      Stop("대상 파일의 백업을 만들 수 없어 작업을 중지합니다.\r\n" + DescribeCurrentException().description,
           "백업 실패");
      return false;
    }
    c_.SetStatus("");
    result_.backupPath = path;
    c_.AppendLog("백업: " + path);
    return true;
  }

  // The re-sort the technician agreed to, only over a backup.
  bool ResortTarget() {
    if (!resortGeneral_) return true;
    if (result_.backupPath.empty()) {
      Stop("대상 파일의 백업이 없어 정렬 순서를 바꾸지 않습니다. 작업을 중지합니다.", "백업 없이 정렬 순서 변경 불가");
      return false;
    }
    c_.SetStatus("대상 파일을 일반 정렬 순서로 바꾸는 중...");
    try {
      dst_->ResortGeneral();
    } catch (...) {
      c_.SetStatus("");
      ++result_.errorsReported;
      Stop("대상 파일의 정렬 순서를 바꿀 수 없어 작업을 중지합니다.\r\n" + DescribeCurrentException().description +
               "\r\n백업: " + result_.backupPath,
           "정렬 순서 변경 실패");
      return false;
    }
    c_.SetStatus("");
    c_.AppendLog("정렬 순서: 대상 파일을 일반 정렬 순서로 바꿨습니다");
    return true;
  }

  void CopyAll() {
    if (c_.CancelRequested()) {
      result_.cancelled = true;
      StopLog("중지 요청");
      return;
    }
    if (!Backup() || !ResortTarget()) return;
    // Into the CS DB the read-back of one table runs on a connection of its
    // own while the next table is copied. Access files are read back at the
    // end: the writer holds them alone until then.
    if (options_.verify && direction_ == 0) {
      std::unique_ptr<ado::Connection> second;
      bool opened = false;
      try {
        opened = s_.openMySql(second);
      } catch (...) {
      }
      if (opened) readBack_ = std::make_unique<BackgroundReadBack>(std::move(second));
    }
    TableCatalogue& cat = c_.catalogue();
    std::vector<int> marked;
    for (int i = 0; i < cat.Count(); ++i)
      if (cat.at(i).marked) marked.push_back(i);
    size_t next = 0;
    for (; next < marked.size() && !stopped_; ++next) {
      if (c_.CancelRequested()) {
        result_.cancelled = true;
        break;
      }
      CopyOne(marked[next]);
      c_.SetProgressValue(1, static_cast<int>(next + 1));
      c_.Refresh();
    }
    if (stopped_ || result_.cancelled) {
      std::string rest;
      for (size_t k = next; k < marked.size(); ++k) rest += (rest.empty() ? "" : ", ") + cat.at(marked[k]).table;
      if (!rest.empty()) c_.AppendLog("변경하지 않은 테이블: " + rest);
    }
    result_.completed = !stopped_ && !result_.cancelled;
    copyEnd_ = Clock::now();
    if (options_.verify && !result_.cancelled) Verify();
    c_.SetStatus("");

    c_.AppendLog("Finish! " + TimeOfDayText());
    c_.AppendLog("총 경과시간: " + Elapsed(runStart_, Clock::now()));
    Summary();
    const bool ok = result_.Succeeded();
    WriteLogFile(!ok);
    p_.Message(ok ? "복사가 완료되었습니다." : OutcomeMessage());
  }

  // Access targets take the table's DELETE FROM and rows as one unit of work.
  // The Jet connection refuses BeginTrans only when the file is in use or an
  // earlier failure could not be undone; emptying the table without the
  // unit of work would then risk its rows, so the table is left alone.
  enum class TableTxn { None, Open, Refused };
  TableTxn BeginTable() {
    if (direction_ == 0) return TableTxn::None;
    return Step([&] { dst_->BeginTrans(); }) ? TableTxn::Open : TableTxn::Refused;
  }

  void CopyOne(int index) {
    TableCatalogue& cat = c_.catalogue();
    const auto tableStart = Clock::now();
    c_.SetCurrentTable(index);
    TableDone d;
    d.table = cat.at(index).table;
    const int32_t expected = cat.at(index).expectedRows;
    const std::string& table = d.table;

    // The source first: a table that cannot be read is not emptied.
    std::unique_ptr<ado::Recordset> reader, writer;
    if (!Step([&] { reader = src_->OpenTable(table, ado::OpenMode::Read); })) {
      c_.AppendLog("원본 읽기 실패 " + table + ": 작업을 중지합니다 (이 테이블은 변경 없음)");
      d.failed = expected > 0 ? expected : 0;
      Done(std::move(d));
      stopped_ = true;
      return;
    }

    const TableTxn began = BeginTable();
    if (began == TableTxn::Refused) {
      ado::CloseADO(reader);
      d.outcome = Outcome::Unchanged;
      d.failed = expected > 0 ? expected : 0;
      c_.AppendLog("복사 실패 " + table + ": " + FormatThousands(d.failed) + "건 (대상 테이블을 바꿀 수 없음, 변경 없음)");
      Done(std::move(d));
      return;
    }
    const bool txn = began == TableTxn::Open;
    c_.SetStatus(table + " 테이블 비우는 중...");
    const bool emptied = Step([&] { dst_->Execute("DELETE FROM " + table); });
    c_.SetStatus("");
    if (!emptied || !Step([&] { writer = dst_->OpenTable(table, ado::OpenMode::Append); })) {
      // Nothing is copied on top of rows that could not be deleted.
      ado::CloseADO(reader);
      ado::CloseADO(writer);
      if (txn) Step([&] { dst_->RollbackTrans(); });
      d.outcome = (emptied && !txn) ? Outcome::Partial : Outcome::Unchanged;
      d.failed = expected > 0 ? expected : 0;
      c_.AppendLog("복사 실패 " + table + ": " + FormatThousands(d.failed) + "건 (대상 테이블을 비우거나 열 수 없음)");
      Done(std::move(d));
      return;
    }

    // Rows travel to the server in batches where the target can take them;
    // a refused batch is stored again row by row, so each row still succeeds
    // or fails on its own and is reported at the Flush below.
    writer->SetBatchRows(kCopyBatchRows);
    const int max = expected > 0 ? expected : 0;
    c_.SetProgressMax(0, max);
    c_.SetProgressValue(0, 0);
    c_.SetStatus(table + " 복사 중...");

    d.plan = PlanColumns(*reader, *writer);
    d.planned = true;
    if (d.plan.NamesDiffer()) {
      for (const auto& pair : d.plan.byPosition) c_.AppendLog("필드 위치로 복사: " + table + "." + pair);
      for (const auto& col : d.plan.sourceOnly) c_.AppendLog("대상에 없는 필드 (복사 안 함): " + table + "." + col);
      for (const auto& col : d.plan.targetOnly) c_.AppendLog("원본에 없는 필드 (기본값): " + table + "." + col);
      p_.Message("양쪽의 필드이름 또는 위치가 틀립니다.");
    }

    // Source row numbers by Update call, for the refusals a Flush hands back.
    std::vector<long long> updateRow;
    long long row = 0, updated = 0, untried = 0;
    bool sourceFailed = false, cancelled = false;
    std::string giveUpKey, lastKey;
    int sameFailures = 0;
    while (!reader->Eof()) {
      if (c_.CancelRequested()) {
        cancelled = true;
        break;
      }
      ++row;
      if (options_.verify) d.sourceDigests.push_back(RowDigest(*reader, d.plan, true));
      if (!giveUpKey.empty()) {
        ++untried;
      } else if (auto err = StoreRow(*reader, *writer, d.plan)) {
        ++d.failed;
        std::string key = RowFailed(table, row, *err);
        sameFailures = key == lastKey ? sameFailures + 1 : 1;
        lastKey = key;
        // A target that refuses row after row for one reason (a full disk, a
        // lost server) is not asked for every remaining row.
        if (sameFailures >= kGiveUpAfter) giveUpKey = key;
      } else {
        updateRow.push_back(row);
        ++updated;
        sameFailures = 0;
      }
      try {
        reader->MoveNext();
      } catch (...) {
        ReportError(DescribeCurrentException());
        sourceFailed = true;
        break;
      }
      c_.SetProgressValue(0, row < max ? static_cast<int>(row) : max);
      if ((row & 4095) == 0) c_.Refresh();
    }
    if (untried > 0) {
      d.failed += untried;
      c_.AppendLog("  실패 " + table + ": 나머지 " + FormatThousands(untried) + "건은 같은 오류가 계속되어 저장을 시도하지 않음");
    }

    long long refused = 0;
    Step([&] {
      for (const auto& f : writer->Flush()) {
        long long at = f.row >= 0 && f.row < static_cast<long long>(updateRow.size()) ? updateRow[f.row] : 0;
        RowFailed(table, at, {f.number, f.description, {}});
        ++refused;
      }
    });
    Step([&] { ado::CloseADO(reader); });
    // Closing the writer stores what it still holds; a failure here leaves
    // those rows unaccounted for, so the table's rows all count as failed.
    const bool closed = Step([&] { ado::CloseADO(writer); });
    long long stored = updated - refused;
    d.failed += refused;
    c_.SetStatus("");

    // Rows that were taken but never became durable fail together.
    auto notDurable = [&](const char* why) {
      if (stored > 0)
        c_.AppendLog("  실패 " + table + ": " + why + " " + FormatThousands(stored) + "건이 저장되지 않음");
      d.failed += stored;
      stored = 0;
    };
    if (!closed) notDurable("저장을 확정하지 못해");
    if (txn) {
      if (sourceFailed || cancelled || !closed) {
        Step([&] { dst_->RollbackTrans(); });
        if (sourceFailed) notDurable("원본 읽기 실패로 되돌려");
        stored = 0;
        d.outcome = Outcome::Unchanged;
        // None of the table's rows arrived, also those the source never gave.
        if (sourceFailed) d.failed = std::max<long long>(d.failed, expected);
      } else if (!Step([&] { dst_->CommitTrans(); })) {
        // A commit that fails ends the transaction; the table keeps what it held.
        notDurable("커밋하지 못해");
        d.outcome = Outcome::Unchanged;
      } else {
        d.outcome = Outcome::Replaced;
      }
    } else {
      d.outcome = (sourceFailed || cancelled) ? Outcome::Partial : Outcome::Replaced;
    }
    d.stored = stored;

    const std::string elapsed = Elapsed(tableStart, Clock::now());
    if (cancelled) {
      result_.cancelled = true;
      c_.AppendLog(d.outcome == Outcome::Unchanged
                       ? "중지 " + table + ": 진행 중이던 테이블을 되돌림 (변경 없음)"
                       : "중지 " + table + ": " + FormatThousands(stored) + "건까지 저장된 채 남음");
    } else if (sourceFailed) {
      stopped_ = true;
      c_.AppendLog(d.outcome == Outcome::Unchanged
                       ? "원본 읽기 실패 " + table + ": 테이블을 되돌림 (변경 없음), 작업을 중지합니다"
                       : "원본 읽기 실패 " + table + ": " + FormatThousands(stored) +
                             "건까지 저장된 채 남음, 작업을 중지합니다");
    } else if (d.outcome == Outcome::Unchanged) {
      c_.AppendLog("저장 실패 " + table + ": 테이블을 되돌림 (변경 없음), 실패 " + FormatThousands(d.failed) + "건");
    } else if (expected == 0 && row == 0) {
      c_.AppendLog("EMPTY " + table);
    } else {
      // The line tells what was stored, and what was not.
      std::string line = " ADO  " + rpad(table, 20, ".") + LPad(FormatThousands(stored), 10, ".") +
                         "건 복사(Time " + elapsed + ")";
      if (d.failed > 0) line += " 실패 " + FormatThousands(d.failed) + "건";
      c_.AppendLog(line);
    }
    Done(std::move(d));
  }

  void Done(TableDone d) {
    result_.rowsStored += d.stored;
    result_.rowsFailed += d.failed;
    if (d.outcome == Outcome::Replaced) ++result_.tablesCopied;
    done_.push_back(std::move(d));
    const TableDone& kept = done_.back();
    if (readBack_ && kept.outcome == Outcome::Replaced && kept.planned)
      readBack_->Add(kept.table, &kept.plan, &kept.sourceDigests);
  }

  // One row: AddNew, every mapped column, Update. Any refusal leaves the
  // row unstored: a row is never stored with a column missing.
  std::optional<ErrorInfo> StoreRow(ado::Recordset& reader, ado::Recordset& writer, const ColumnPlan& plan) {
    try {
      writer.AddNew();
      for (size_t j = 0; j < plan.target.size(); ++j) {
        const int t = plan.target[j];
        if (t < 0) continue;
        auto v = TargetValue(reader.GetValue(static_cast<int>(j)), plan.targetType[t]);
        if (v) writer.SetValue(t, std::move(*v));
      }
      writer.Update();
      return std::nullopt;
    } catch (...) {
      return DescribeCurrentException();
    }
  }

  // Every failed row goes into the pane with its reason; a message box only
  // for the first row of each table and kind of error. The kind leaves out
  // the digits and quoted values that differ from row to row.
  std::string RowFailed(const std::string& table, long long row, const ErrorInfo& e) {
    c_.AppendLog("  실패 " + table + (row > 0 ? " " + FormatThousands(row) + "번째 행" : std::string()) +
                 ": Error " + std::to_string(e.number) + " (" + e.description + ")");
    std::string key = table + '\x1f' + std::to_string(e.number) + '\x1f' + ErrorKind(e.description);
    if (shownErrors_.insert(key).second) ReportError(e);
    return key;
  }
  static std::string ErrorKind(const std::string& text) {
    std::string out;
    char quote = 0;
    for (char ch : text) {
      if (quote) {
        if (ch == quote) quote = 0;
        continue;
      }
      if (ch == '\'' || ch == '"') {
        quote = ch;
        out += '?';
      } else if (ch >= '0' && ch <= '9') {
        if (out.empty() || out.back() != '#') out += '#';
      } else {
        out += ch;
      }
    }
    return out;
  }
  void ReportError(const ErrorInfo& e) {
    p_.Message(TrapText(e, kProc, kOwner));
    ++result_.errorsReported;
  }

  // Every table the run changed, read back and compared with its source.
  // An Access target is read from the file as the closed connection left it,
  // through a connection of its own.
  void Verify() {
    std::unique_ptr<ado::Connection> fresh;
    if (direction_ != 0) {
      Step([&] { ado::CloseADO(dst_); });
      if (!Step([&] { s_.openMdb(fresh, direction_ == 2); })) fresh.reset();
    }
    ado::Connection* target = direction_ == 0 ? dst_.get() : fresh.get();
    std::vector<BackgroundReadBack::Result> early;
    if (readBack_) {
      early = readBack_->Finish([this] { return c_.CancelRequested(); });
      readBack_.reset();
    }
    for (const TableDone& d : done_) {
      // A table left half copied is told as such; comparing the rows it got
      // with only the rows read before the stop would call it equal.
      if (d.outcome != Outcome::Replaced) continue;
      if (c_.CancelRequested()) {
        c_.AppendLog("검증 중지");
        break;
      }
      c_.SetStatus(d.table + " 테이블 검증 중...");
      TableVerification v{d.table, 0, {}};
      auto got = std::find_if(early.begin(), early.end(), [&](const auto& e) { return e.table == d.table; });
      if (got != early.end() && (got->comparison || !got->error.empty())) {
        v.differing = got->comparison ? got->comparison->differing : 0;
        v.error = got->error;
        result_.verification.push_back(std::move(v));
        continue;
      }
      try {
        if (!target || target->State() != ado::adStateOpen)
          throw BrenvoError(3704, "Operation is not allowed when the object is closed.", "ADODB.Connection");
        TableComparison cmp = CompareTable(*src_, *target, d.table, d.planned ? &d.plan : nullptr,
                                           d.planned ? &d.sourceDigests : nullptr,
                                           [this] { return c_.CancelRequested(); });
        if (cmp.cancelled) {
          c_.AppendLog("검증 중지");
          break;
        }
        v.differing = cmp.differing;
      } catch (...) {
        ErrorInfo e = DescribeCurrentException();
        v.error = "Error " + std::to_string(e.number) + " (" + e.description + ")";
      }
      result_.verification.push_back(std::move(v));
    }
    Step([&] { ado::CloseADO(fresh); });
    verifyEnd_ = Clock::now();
  }

  void Summary() {
    const auto now = Clock::now();
    c_.AppendLog("----- 요약 -----");
    int marked = c_.catalogue().MarkedCount();
    c_.AppendLog("복사한 테이블: " + std::to_string(result_.tablesCopied) + " / " + std::to_string(marked));
    c_.AppendLog("저장한 행: " + FormatThousands(result_.rowsStored) + "건");
    c_.AppendLog("실패한 행: " + FormatThousands(result_.rowsFailed) + "건");
    std::string time = "소요시간: " + Elapsed(runStart_, now) + " (복사 " + Elapsed(runStart_, copyEnd_);
    if (verifyEnd_) time += ", 검증 " + Elapsed(copyEnd_, *verifyEnd_);
    c_.AppendLog(time + ")");
    c_.AppendLog("로그 파일: " + c_.LogFilePath());
    c_.AppendLog("백업 파일: " + (direction_ == 0                  ? std::string("없음 (대상이 CS DB)")
                                  : result_.backupPath.empty() ? std::string("없음")
                                                               : result_.backupPath));
    if (!options_.verify && !done_.empty()) c_.AppendLog("검증: 생략");
    for (const auto& v : result_.verification) {
      std::string state = !v.error.empty()    ? "확인 실패 " + v.error
                          : v.differing == 0 ? "일치"
                                             : FormatThousands(v.differing) + "건 불일치";
      c_.AppendLog("검증 " + rpad(v.table, 20, ".") + " " + state);
    }
    for (const auto& d : done_) {
      if (d.outcome == Outcome::Unchanged) c_.AppendLog("변경 없음: " + d.table);
      if (d.outcome == Outcome::Partial) c_.AppendLog("일부만 저장: " + d.table + " " + FormatThousands(d.stored) + "건");
    }
  }

  std::string OutcomeMessage() const {
    std::string head = result_.cancelled ? "작업이 중지되었습니다."
                       : stopped_        ? "원본을 읽지 못하여 작업을 중지했습니다."
                       : result_.rowsFailed > 0 || result_.errorsReported > 0
                           ? "복사를 마쳤으나 저장하지 못한 행이나 오류가 있습니다."
                           : "복사를 마쳤으나 검증에서 차이가 발견되었습니다.";
    std::string text = head + "\r\n저장 " + FormatThousands(result_.rowsStored) + "건, 실패 " +
                       FormatThousands(result_.rowsFailed) + "건";
    std::string differ;
    for (const auto& v : result_.verification)
      if (v.differing > 0 || !v.error.empty())
        differ += (differ.empty() ? "" : ", ") + v.table + (v.error.empty() ? " " + FormatThousands(v.differing) + "건" : " 확인 실패");
    if (!differ.empty()) text += "\r\n검증 불일치: " + differ;
    return text + "\r\n로그 파일: " + c_.LogFilePath();
  }

  void CleanUp() {
    Step([&] { ado::CloseADO(src_); });
    Step([&] { ado::CloseADO(dst_); });
    if (s_.dbClose) s_.dbClose();
  }

  static constexpr int kGiveUpAfter = 1000;

  Console& c_;
  const TransferServices& s_;
  const CopyRunOptions options_;
  ShownLog p_;
  int direction_ = 0;
  std::unique_ptr<ado::Connection> src_, dst_;
  Clock::time_point runStart_ = Clock::now();
  Clock::time_point copyEnd_ = Clock::now();
  std::optional<Clock::time_point> verifyEnd_;
  bool headerWritten_ = false;
  bool stopped_ = false;
  bool resortGeneral_ = false;
  std::deque<TableDone> done_;  // stays where it is while the read-back thread looks at it
  std::unique_ptr<BackgroundReadBack> readBack_;
  std::set<std::string> shownErrors_;
  CopyRunResult result_;
};

}  // namespace

void FixZeroDate(ado::Connection& source) {
  source.Execute("UPDATE product_m SET lastmodify = '1900-01-01 01:01:01' WHERE lastmodify = '0000-00-00 00:00:00'");
  source.Execute("UPDATE estimate_m SET estidate = '1900-01-01' WHERE estidate = '0000-00-00'");
}

bool CopyRunResult::Succeeded() const {
  if (!completed || cancelled || rowsFailed > 0 || errorsReported > 0) return false;
  for (const auto& v : verification)
    if (v.differing > 0 || !v.error.empty()) return false;
  return true;
}

CopyRunResult cmdStart_Click(Console& console, const TransferServices& services, const CopyRunOptions& options) {
  return Run(console, services, options).Go();
}

}  // namespace brenvo
