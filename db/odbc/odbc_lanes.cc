// The batched appender's lanes: batches side by side, each over a side
// connection of its own, so that a distant server's round trips overlap.
//
// Rows must end as if the batches had gone one after another: a key that
// two batches share is stored from the earlier one and refused in the
// later. So a batch commits only once every batch before it has gone
// through the server (executed, or already resolved); a later batch that
// reaches a shared key first holds it uncommitted, and the earlier one then
// waits for its lock until kLaneLockWait ends the wait and it counts as
// refused. A refused batch rolls back, every later batch that holds a
// transaction rolls back too, and once every batch before it is resolved it
// goes alone, as on the record set's own connection (arrays again, then row
// by row), before the later ones go again.
#include <algorithm>
#include <utility>

#include "db/odbc/odbc_batch.h"
#include "util/error.h"

namespace brenvo::odbc {

bool OdbcAppender::StartLanes() {
  lanesTried_ = true;
  if (settings_.empty()) return false;
  // As many batches on their way as it takes to keep the server busy
  // through a round trip (timed once a session, by the first appender).
  const size_t want = LanesFor(session_->roundTripMs);
  for (size_t i = 0; i < want; ++i) {
    auto side = session_->TakeSide();
    if (!side) break;
    auto lane = std::make_unique<Lane>();
    lane->link.dbc = side->dbc.get();
    lane->side = std::move(side);
    lanes_.push_back(std::move(lane));
  }
  // Connecting takes several round trips: the lanes connect at once.
  for (auto& lane : lanes_) lane->thread = std::thread([this, l = lane.get()] { LaneLoop(*l); });
  {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] {
      for (const auto& lane : lanes_)
        if (!lane->ready && !lane->dead) return false;
      return true;
    });
  }
  // A lane that could not connect has ended; its connection is dropped.
  for (auto it = lanes_.begin(); it != lanes_.end();) {
    if ((*it)->dead) {
      (*it)->thread.join();
      it = lanes_.erase(it);
    } else {
      ++it;
    }
  }
  return !lanes_.empty();
}

void Session::OpenSidesAhead() {
  if (connectMs < 0) return;
  // Opening the connection took about six round trips: the handshake, the
  // login and the driver's own settings.
  const size_t want = LanesFor(connectMs / 6);
  std::lock_guard<std::mutex> lock(spareMu);
  for (size_t n = spare.size() + connecting; n < want; ++n) {
    std::unique_ptr<SideLink> link = NewSide();
    if (!link) return;
    ++connecting;
    openers.emplace_back([this, l = link.release(), cs = connectionString] {
      std::unique_ptr<SideLink> opened(l);
      opened->Open(cs);
      std::lock_guard<std::mutex> done(spareMu);
      --connecting;
      if (opened->connected) spare.push_back(std::move(opened));
      spareCv.notify_all();
    });
  }
}

void OdbcAppender::LaneLoop(Lane& lane) {
  bool ok = lane.side->Connect(session_->connectionString, connectionId_, database_);
  if (ok && lane.side->settings != settings_) {
    ok = Exec(lane.link, settings_);
    lane.side->settings = ok ? settings_ : std::string();
  }
  lane.link.autocommit = !lane.side->autocommitOff;
  if (ok) ok = SetAutocommit(lane.link, false);
  {
    std::lock_guard<std::mutex> lock(mu_);
    (ok ? lane.ready : lane.dead) = true;
  }
  cv_.notify_all();
  if (!ok) return;
  for (;;) {
    std::unique_ptr<Job> job;
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [this] { return !jobs_.empty() || stop_; });
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
      lane.seq = job->seq;
    }
    cv_.notify_all();  // the caller may hand over the next batch now
    try {
      StoreJob(lane, *job);
    } catch (...) {
      // Nothing here is meant to throw; should something, the batch's rows
      // are reported with it rather than counted as stored.
      const ErrorInfo e = DescribeCurrentException();
      std::lock_guard<std::mutex> lock(mu_);
      for (const Run& run : job->runs)
        for (const Queued& q : run.rows) failures_.push_back({q.index, e.number, e.description});
      lane.open = false;
      failed_.erase(job->seq);
      Resolved(job->seq);
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      // Freeing a batch's values is the caller's, while the lanes send.
      for (Run& r : job->runs) doneRuns_.push_back(std::move(r));
      lane.seq = -1;
    }
    cv_.notify_all();
  }
}

bool OdbcAppender::SetAutocommit(Link& link, bool on) {
  if (link.autocommit == on) return true;
  if (!Ok(SQLSetConnectAttr(link.dbc, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0)))
    return false;
  link.autocommit = on;
  return true;
}

bool OdbcAppender::FailedBefore(long long seq) const { return !failed_.empty() && *failed_.begin() < seq; }

bool OdbcAppender::OpenAbove(long long seq) const {
  for (const auto& lane : lanes_)
    if (lane->open && lane->seq > seq) return true;
  return false;
}

void OdbcAppender::Resolved(long long seq) {
  for (auto* marks : {&through_, &resolved_}) marks->insert(seq);
  while (through_.erase(throughUpTo_)) ++throughUpTo_;
  while (resolved_.erase(resolvedUpTo_)) ++resolvedUpTo_;
}

// Every array of the batch in the lane's open transaction; false when one is
// refused or the batch has rows no array takes.
bool OdbcAppender::ExecuteJob(Link& link, std::vector<Run>& runs) {
  for (Run& run : runs) {
    if (run.built == ArrayResult::TooWide) {
      const auto half = run.rows.begin() + static_cast<std::ptrdiff_t>(run.rows.size() / 2);
      std::vector<Run> parts(2);
      parts[0].rows.assign(run.rows.begin(), half);
      parts[1].rows.assign(half, run.rows.end());
      for (Run& part : parts) part.built = BuildArrays(part);
      if (!ExecuteJob(link, parts)) return false;
      continue;
    }
    if (run.built != ArrayResult::Stored || ExecuteArrays(link, run) != ArrayResult::Stored) return false;
  }
  return true;
}

// A batch on its own, in autocommit, the way the record set's own connection
// stores one: in the order its rows were filled.
void OdbcAppender::StoreAlone(Link& link, Job& job) {
  std::vector<Queued> rows;
  for (Run& run : job.runs)
    rows.insert(rows.end(), std::make_move_iterator(run.rows.begin()), std::make_move_iterator(run.rows.end()));
  std::sort(rows.begin(), rows.end(), [](const Queued& a, const Queued& b) { return a.index < b.index; });
  job.runs = MakeRuns(std::move(rows), false);
  std::vector<Run>& runs = job.runs;
  std::vector<RowFailure> refused;
  SetAutocommit(link, true);
  // Only another client's locks can hold it up now: it waits as long as
  // the server lets anyone.
  Exec(link, "SET SESSION innodb_lock_wait_timeout = DEFAULT");
  for (size_t i = 0; i < runs.size(); ++i)
    SendRun(link, runs[i], i + 1 < runs.size() && runs[i + 1].built == ArrayResult::Stored, refused);
  EndChain(link);
  Exec(link, "SET SESSION innodb_lock_wait_timeout = " + std::to_string(kLaneLockWait));
  SetAutocommit(link, false);
  std::lock_guard<std::mutex> lock(mu_);
  failures_.insert(failures_.end(), refused.begin(), refused.end());
}

void OdbcAppender::StoreJob(Lane& lane, Job& job) {
  const long long seq = job.seq;
  SQLHDBC dbc = lane.link.dbc;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [&] { return !FailedBefore(seq); });
      lane.open = true;
    }
    // Arrays in autocommit would not be all or nothing: a lane that cannot
    // leave it stores the batch alone.
    const bool executed = SetAutocommit(lane.link, false) && ExecuteJob(lane.link, job.runs);
    std::unique_lock<std::mutex> lock(mu_);
    if (executed) {
      through_.insert(seq);
      while (through_.erase(throughUpTo_)) ++throughUpTo_;
      cv_.notify_all();
      cv_.wait(lock, [&] { return throughUpTo_ > seq || FailedBefore(seq); });
      if (!FailedBefore(seq)) {
        lock.unlock();
        if (!Ok(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT))) {
          // Nothing of the batch counts as stored; its rows go one by one.
          SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
          std::vector<RowFailure> refused;
          SetAutocommit(lane.link, true);
          for (Run& run : job.runs) Replay(lane.link, run.rows, 0, run.rows.size(), refused);
          SetAutocommit(lane.link, false);
          lock.lock();
          failures_.insert(failures_.end(), refused.begin(), refused.end());
        } else {
          lock.lock();
        }
        lane.open = false;
        Resolved(seq);
        cv_.notify_all();
        return;
      }
      // An earlier batch was refused: this one makes way and goes again.
      through_.erase(seq);
    }
    lock.unlock();
    SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
    lock.lock();
    lane.open = false;
    if (executed) {
      cv_.notify_all();
      continue;
    }
    failed_.insert(seq);
    cv_.notify_all();
    cv_.wait(lock, [&] { return resolvedUpTo_ == seq && !OpenAbove(seq); });
    lock.unlock();
    StoreAlone(lane.link, job);
    lock.lock();
    failed_.erase(seq);
    Resolved(seq);
    cv_.notify_all();
    return;
  }
}

}  // namespace brenvo::odbc
