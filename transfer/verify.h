// The proof at the end of a copy run: a copied table read back from the
// target and compared with the source, row for row over the values the copy
// stores. Orders may differ between the two databases, so each side becomes
// a sorted list of row digests and the lists are compared; memory is eight
// bytes a row and side.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "db/ado/recordset.h"
#include "transfer/column_plan.h"

namespace brenvo {

struct TableComparison {
  long long sourceRows = 0;
  long long targetRows = 0;
  // Rows of one side without an equal row on the other (the larger of the
  // two sides' counts): a changed row counts once, a missing one once.
  long long differing = 0;
  bool cancelled = false;
};

// A row's digest over the mapped columns in source order. Source rows go
// through TargetValue first (asSource), so a value the copy leaves unset
// compares as NULL; numbers compare by value whatever their type, dates in a
// DATE column by day, bytes as they are.
uint64_t RowDigest(const ado::Recordset& rs, const ColumnPlan& plan, bool asSource);

// The digests of every row of rs from where it stands to its end, appended
// to out. False when cancelled() said so (asked every 1,024 rows).
bool ReadDigests(ado::Recordset& rs, const ColumnPlan& plan, bool asSource, std::vector<uint64_t>& out,
                 const std::function<bool()>& cancelled);

// The two sides' digests as multisets.
TableComparison CompareDigests(std::vector<uint64_t> source, std::vector<uint64_t> target);

// Reads the table back from target and compares it with sourceDigests, the
// source rows as the copy read them under plan. nullopt when plan no longer
// fits the target's columns.
std::optional<TableComparison> CompareWithDigests(ado::Connection& target, const std::string& table,
                                                  const ColumnPlan& plan, const std::vector<uint64_t>& sourceDigests,
                                                  const std::function<bool()>& cancelled);

// Reads the table back from target and compares it with the source: with the
// digests the copy made of the source rows it read (sourceDigests, under
// copyPlan), or else by reading the source again. Raises what the reading
// raises.
TableComparison CompareTable(ado::Connection& source, ado::Connection& target, const std::string& table,
                             const ColumnPlan* copyPlan, const std::vector<uint64_t>* sourceDigests,
                             const std::function<bool()>& cancelled);

// Reads tables back on a connection and a thread of its own while the
// caller goes on (with the copy of the next table), in the order they were
// added. Nothing of the caller's is touched on that thread.
class BackgroundReadBack {
 public:
  explicit BackgroundReadBack(std::unique_ptr<ado::Connection> target);
  ~BackgroundReadBack();
  BackgroundReadBack(const BackgroundReadBack&) = delete;
  BackgroundReadBack& operator=(const BackgroundReadBack&) = delete;

  // plan and sourceDigests stay alive and unchanged until Finish returns.
  void Add(const std::string& table, const ColumnPlan* plan, const std::vector<uint64_t>* sourceDigests);

  struct Result {
    std::string table;
    std::optional<TableComparison> comparison;  // none: compare it again, the other way
    std::string error;                          // the reading failed
  };
  // Waits for every table added; cancelled() is asked while waiting and
  // stops what is left.
  std::vector<Result> Finish(const std::function<bool()>& cancelled);

 private:
  struct Job {
    std::string table;
    const ColumnPlan* plan;
    const std::vector<uint64_t>* digests;
  };
  void Loop();

  std::unique_ptr<ado::Connection> target_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Job> jobs_;
  std::vector<Result> results_;
  bool finishing_ = false;
  bool ended_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace brenvo
