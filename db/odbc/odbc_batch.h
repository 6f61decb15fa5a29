// The batched appender's inner parts, shared by its two files: the
// appender proper (odbc_appender.cc) and the arrays and the sender thread
// that stores them (odbc_sender.cc).
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "db/odbc/odbc_appender.h"

namespace brenvo::odbc {

// Batches stay well under the server's smallest usual packet limit.
constexpr size_t kMaxBatchBytes = 1 << 20;
// Values longer than this go in a run of their own; the arrays of one run
// never take more than kMaxArrayBytes (else the run goes in halves).
constexpr size_t kWideValue = 2048;
constexpr size_t kMaxArrayBytes = size_t{8} << 20;
// Batches side by side over side connections: enough to keep a distant
// server busy through the round trips between one batch and the next (one
// more lane for every kMsPerLane of the round trip: a lane spends two round
// trips on each batch, execute and commit). Past kMaxLanes a lane's batches
// grow instead, to at most kMaxBatchGrowth times the caller's (a batch costs
// a lane the same two round trips whatever its size): statements running at
// once on the server cost it more than they save where its CPU is short.
constexpr size_t kMinLanes = 2;
constexpr size_t kMaxLanes = 8;
constexpr double kMsPerLane = 2.5;
constexpr double kMaxBatchGrowth = 2;
inline double LanesWanted(double roundTripMs) { return kMinLanes + std::max(roundTripMs, 0.0) / kMsPerLane; }
inline size_t LanesFor(double roundTripMs) {
  return std::clamp<size_t>(static_cast<size_t>(LanesWanted(roundTripMs)), kMinLanes, kMaxLanes);
}
// Connections an account limited in connections keeps free when side
// connections are opened ahead: the copy run's own second one, and another.
constexpr long long kSpareConnections = 2;
// Filled batches waiting for a lane. The caller fills one far faster than a
// lane stores one, so a short queue keeps every lane busy; each batch waiting
// holds its rows twice over (values and arrays), the bulk of the memory.
constexpr size_t kWaitingBatches = 2;
// Seconds a lane's row waits for a lock before its batch counts as refused:
// two batches of one appender can wait on each other (a key taken early by
// a later batch), which only this ends. A refused batch goes again alone,
// with the server's own lock wait, when no other batch holds locks.
constexpr int kLaneLockWait = 2;

// How one column of a batch is bound: every value of the column (NULLs
// aside) has to share one C type.
enum class Kind { None, Int, Double, Float, Text, Bytes, Mixed };

inline Kind KindOf(const ado::Value& v) {
  if (ado::IsNull(v)) return Kind::None;
  if (std::holds_alternative<bool>(v) || std::holds_alternative<int64_t>(v)) return Kind::Int;
  if (std::holds_alternative<double>(v)) return Kind::Double;
  if (std::holds_alternative<float>(v)) return Kind::Float;
  if (std::holds_alternative<ado::Bytes>(v)) return Kind::Bytes;
  return Kind::Text;
}

struct ArrayColumn {
  Kind kind = Kind::None;
  size_t width = 0;  // bytes of one element
  std::vector<std::string> texts;
  std::vector<char> data;
  std::vector<SQLLEN> ind;
};

struct OdbcAppender::Run {
  std::vector<Queued> rows;
  ArrayResult built = ArrayResult::NotSuitable;  // Stored: the arrays below are ready
  std::vector<bool> set;                         // the columns the statement names
  std::vector<ArrayColumn> cols;
  std::vector<size_t> colIndex;  // cols_ position of each array
};

struct OdbcAppender::Job {
  long long seq = 0;  // batches in the order they were filled
  std::vector<Run> runs;
};

struct OdbcAppender::Lane {
  std::unique_ptr<SideLink> side;
  Link link;
  std::thread thread;
  // Guarded by the appender's mu_:
  bool ready = false;  // connected, settings copied, autocommit off
  bool dead = false;   // could not be made ready
  long long seq = -1;  // the batch it holds
  bool open = false;   // its transaction may hold rows (and locks) of that batch
};

}  // namespace brenvo::odbc
