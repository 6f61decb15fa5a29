#include "transfer/copy_run.h"

#include <chrono>

#include "transfer/estimate.h"
#include "transfer/field_check.h"
#include "transfer/preflight.h"
#include "transfer/values.h"
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
  Run(Console& c, const TransferServices& s) : c_(c), s_(s), p_(c.prompter()) {}

  CopyRunResult Go() {
    std::string q1 = "※시작하기 전에 CS와 " + c_.AppName() + " 프로그램을 종료하세요.\r\n" +
                     "최종적으로 접속한 CS DB에 대해 작업이 이루어 집니다. 정말 시작하시겠습니까?";
    if (!p_.Ask(q1, {}, Icon::Question, true)) return result_;
    direction_ = c_.Direction();
    // Only counts read now decide anything: a table taken for empty has its
    // target emptied and nothing copied into it.
    if (!btnTime_Click(c_, s_)) {
      ++result_.errorsReported;
      Stop(UncountedMessage());
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
  void Stop(const std::string& message) {
    p_.Message(message);
    StopLog(ShownLog::OneLine(message));
  }
  void StopLog(const std::string& reason) {
    c_.AppendLog("작업 중지: " + reason + " (대상 DB 변경 없음)");
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

  void CopyAll() {
    TableCatalogue& cat = c_.catalogue();
    int done = 0;
    for (int i = 0; i < cat.Count(); ++i) {
      if (!cat.at(i).marked) continue;
      auto tableStart = Clock::now();
      c_.SetCurrentTable(i);
      const std::string table = cat.at(i).table;
      const int32_t expected = cat.at(i).expectedRows;
      Step([&] { dst_->Execute("DELETE FROM " + table); });
      if (expected == 0) {
        c_.AppendLog("EMPTY " + table);
      } else {
        auto [stored, failed] = CopyTable(table, expected);
        result_.rowsStored += stored;
        result_.rowsFailed += failed;
        // The line tells what was stored, and what was not.
        std::string line = " ADO  " + rpad(table, 20, ".") + LPad(FormatThousands(stored), 10, ".") +
                           "건 복사(Time " + Elapsed(tableStart, Clock::now()) + ")";
        if (failed > 0) line += " 실패 " + FormatThousands(failed) + "건";
        c_.AppendLog(line);
      }
      c_.SetProgressValue(1, ++done);
      c_.Refresh();
    }

    c_.AppendLog("Finish! " + TimeOfDayText());
    c_.AppendLog("총 경과시간: " + Elapsed(runStart_, Clock::now()));
    WriteLogFile();
    p_.Message("복사가 완료되었습니다.");
    result_.completed = true;
  }

  // One table: rows stored and rows that failed.
  std::pair<long long, long long> CopyTable(const std::string& table, int32_t expected) {
    std::unique_ptr<ado::Recordset> reader, writer;
    long long stored = 0, failed = 0;
    // A table that cannot be opened on either side is reported once and skipped.
    if (!Step([&] { reader = src_->OpenTable(table, ado::OpenMode::Read); }) ||
        !Step([&] { writer = dst_->OpenTable(table, ado::OpenMode::Append); })) {
      ado::CloseADO(reader);
      ado::CloseADO(writer);
      return {0, 0};
    }
    // Rows travel to the server in batches where the target can take them;
    // a refused batch is stored again row by row, so each row still succeeds
    // or fails on its own and is reported at the Flush below.
    writer->SetBatchRows(kCopyBatchRows);
    const int max = expected > 0 ? expected : 0;
    c_.SetProgressMax(0, max);
    c_.SetProgressValue(0, 0);

    // Names are compared once per table: the copy is by position, and one
    // report per differing column says all a row-by-row report would.
    const int columns = reader->FieldCount();
    std::vector<int> targetType(columns, ado::adEmpty);
    for (int j = 0; j < columns; ++j) {
      if (j < writer->FieldCount()) {
        targetType[j] = writer->Field(j).type;
        if (reader->Field(j).name != writer->Field(j).name) p_.Message("양쪽의 필드이름 또는 위치가 틀립니다.");
      } else {
        p_.Message("양쪽의 필드이름 또는 위치가 틀립니다.");
      }
    }

    long long n = 0;
    bool readFailed = false;
    while (!readFailed && !reader->Eof()) {
      bool rowOk = Step([&] { writer->AddNew(); });
      for (int j = 0; j < columns && rowOk; ++j) {
        Step([&] {
          const ado::Value& v = reader->GetValue(j);
          if (ado::IsNull(v)) return;
          switch (targetType[j]) {
            case ado::adVarWChar: {
              auto text = ValueToText(v);
              if (text) writer->SetValue(j, std::move(*text));
              break;
            }
            case ado::adDBDate: {
              auto* s = std::get_if<std::string>(&v);
              auto* d = std::get_if<ado::DateTime>(&v);
              if ((s && (s->empty() || *s == "0000-00-00")) || (d && d->IsZeroDate())) return;
              writer->SetValue(j, v);
              break;
            }
            default:
              writer->SetValue(j, v);
          }
        });
      }
      if (rowOk && Step([&] { writer->Update(); })) ++stored;
      else ++failed;
      // A reader that fails once is not read again.
      readFailed = !Step([&] { reader->MoveNext(); });
      ++n;
      c_.SetProgressValue(0, n < max ? static_cast<int>(n) : max);
      if ((n & 4095) == 0) c_.Refresh();
    }
    Step([&] {
      for (const auto& f : writer->Flush()) {
        p_.Message(TrapText({f.number, f.description, {}}, kProc, kOwner));
        ++result_.errorsReported;
        --stored;
        ++failed;
      }
    });
    Step([&] { ado::CloseADO(reader); });
    // Closing the writer flushes what it still holds; rows it then refuses are not stored.
    Step([&] { ado::CloseADO(writer); });
    return {stored, failed};
  }

  void CleanUp() {
    Step([&] { ado::CloseADO(src_); });
    Step([&] { ado::CloseADO(dst_); });
    if (s_.dbClose) s_.dbClose();
  }

  Console& c_;
  const TransferServices& s_;
  ShownLog p_;
  int direction_ = 0;
  std::unique_ptr<ado::Connection> src_, dst_;
  Clock::time_point runStart_ = Clock::now();
  bool headerWritten_ = false;
  CopyRunResult result_;
};

}  // namespace

void FixZeroDate(ado::Connection& source) {
  source.Execute("UPDATE product_m SET lastmodify = '1900-01-01 01:01:01' WHERE lastmodify = '0000-00-00 00:00:00'");
  source.Execute("UPDATE estimate_m SET estidate = '1900-01-01' WHERE estidate = '0000-00-00'");
}

CopyRunResult cmdStart_Click(Console& console, const TransferServices& services) {
  return Run(console, services).Go();
}

}  // namespace brenvo
