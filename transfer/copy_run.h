// The copy run ("작업시작"): two questions, the estimate, both sides opened
// by direction, the emptiness and version checks, the source tables checked,
// the field check, the direct MySQL check, the log header, a backup of an
// Access target, then every marked table in catalogue order replaced on the
// target, a read-back of every copied table, and a summary.
//
// A table is replaced whole or not at all where the target can promise it
// (Access files: DELETE FROM and the rows in one transaction); into the CS
// DB each batch statement commits on its own. A row counts as stored only
// once it is durable.
#pragma once

#include <string>
#include <vector>

#include "db/ado/recordset.h"
#include "transfer/console.h"
#include "transfer/services.h"

namespace brenvo {

struct CopyRunOptions {
  bool verify = true;  // read every copied table back and compare
};

struct TableVerification {
  std::string table;
  long long differing = 0;
  std::string error;  // the comparison could not be made
};

// What one run did, for brenvo-convert's exit code and for tests.
struct CopyRunResult {
  bool completed = false;  // went through every marked table
  bool cancelled = false;
  long long rowsStored = 0;  // durable in the target
  long long rowsFailed = 0;
  int errorsReported = 0;  // error messages shown
  int tablesCopied = 0;
  std::string backupPath;
  std::vector<TableVerification> verification;

  // Every row stored, no error, every table read back equal.
  bool Succeeded() const;
};

// Rows a target that can take batches gets at a time. A batch whose answer
// is lost with the connection may be on the server and still be reported
// as failed: never more rows than this.
inline constexpr int kCopyBatchRows = 4000;

CopyRunResult cmdStart_Click(Console& console, const TransferServices& services,
                             const CopyRunOptions& options = {});

// The zero-date repair on the CS DB before a "CS → Brenvo" run.
void FixZeroDate(ado::Connection& source);

}  // namespace brenvo
