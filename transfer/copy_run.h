// The copy run ("작업시작"): two questions, the estimate, both sides opened
// by direction, the emptiness and version checks, the field check, the
// direct MySQL check, the log header, then every marked table in catalogue
// order emptied on the target and copied row by row, with its log line.
#pragma once

#include "db/ado/recordset.h"
#include "transfer/console.h"
#include "transfer/services.h"

namespace brenvo {

// What one run did, for brenvo-convert's exit code and for tests.
struct CopyRunResult {
  bool completed = false;     // reached "복사가 완료되었습니다."
  long long rowsStored = 0;
  long long rowsFailed = 0;
  int errorsReported = 0;     // trap messages shown
};

// Rows a target that can take batches gets at a time. A batch whose answer
// is lost with the connection may be on the server and still be reported
// as failed: never more rows than this.
inline constexpr int kCopyBatchRows = 4000;

CopyRunResult cmdStart_Click(Console& console, const TransferServices& services);

// The zero-date repair on the CS DB before a "CS → Brenvo" run.
void FixZeroDate(ado::Connection& source);

}  // namespace brenvo
