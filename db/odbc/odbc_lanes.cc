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
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/odbc/odbc_batch.h"
#include "util/error.h"

namespace brenvo::odbc {

bool OdbcAppender::StartLanes(size_t want) {
  if (settings_.empty()) return false;
  const size_t first = lanes_.size();
  for (size_t i = first; i < want; ++i) {
    auto side = session_->TakeSide();
    if (!side) break;
    auto lane = std::make_unique<Lane>();
    lane->link.dbc = side->dbc.get();
    lane->side = std::move(side);
    lanes_.push_back(std::move(lane));
  }
  // Connecting takes several round trips: the lanes connect at once.
  for (size_t i = first; i < lanes_.size(); ++i)
    lanes_[i]->thread = std::thread([this, l = lanes_[i].get()] { LaneLoop(*l); });
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

const char* const kSideStateItem =
    "CONCAT_WS(CHAR(1), @@SESSION.sql_mode, CONNECTION_ID(), IFNULL(DATABASE(), ''), @@SESSION.time_zone,"
    " @@SESSION.foreign_key_checks + 0, @@SESSION.unique_checks + 0)";

std::optional<SideState> ParseSideState(const std::string& item) {
  std::vector<std::string> f;
  for (size_t from = 0;;) {
    const size_t end = item.find('\x01', from);
    f.push_back(item.substr(from, end - from));
    if (end == std::string::npos) break;
    from = end + 1;
  }
  if (f.size() != 6) return std::nullopt;
  SideState state;
  state.sqlMode = f[0];
  auto plain = [](const std::string& t) { return t.find_first_of("'\\") == std::string::npos; };
  if (plain(f[0]) && plain(f[3]) && !f[1].empty() && f[1].find_first_not_of("0123456789") == std::string::npos &&
      (f[4] == "0" || f[4] == "1") && (f[5] == "0" || f[5] == "1")) {
    state.connectionId = f[1];
    state.database = f[2];
    state.settings = "SET SESSION sql_mode = '" + f[0] + "', time_zone = '" + f[3] + "', foreign_key_checks = " + f[4] +
                     ", unique_checks = " + f[5] + ", innodb_lock_wait_timeout = " + std::to_string(kLaneLockWait);
  }
  return state;
}

// Proves a side connection opened ahead and gives it the session's settings,
// with autocommit off, as a lane would on taking it.
void Session::ReadySide(SideLink& link, const std::string& cs, const SideState& state) {
  if (state.settings.empty() || !link.Connect(cs, state.connectionId, state.database)) return;
  try {
    StmtHandle s = NewStatement(link.dbc.get());
    ExecDirect(s.get(), state.settings);
  } catch (...) {
    return;
  }
  link.settings = state.settings;
  link.autocommitOff = Ok(SQLSetConnectAttr(link.dbc.get(), SQL_ATTR_AUTOCOMMIT,
                                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0));
}

void Session::OpenSidesAhead() {
  if (connectMs < 0) return;
  WaitIdle();  // the query below goes over the connection
  // What the side connections are made ready for: one round trip here saves
  // a lane three later (the proof, the settings, autocommit). And how many
  // the account may open: an account limited to a few connections (shared
  // hosting) keeps room for the copy run's own second connection and one
  // more, or the run would fail for the sake of speed.
  if (!aheadState) {
    try {
      const auto row = FirstRowTexts(dbc.get(), std::string("SELECT ") + kSideStateItem +
                                                    ", @@SESSION.max_user_connections, (SELECT COUNT(*) FROM "
                                                    "information_schema.PROCESSLIST WHERE USER = "
                                                    "SUBSTRING_INDEX(CURRENT_USER(), '@', 1))");
      if (row.size() == 3) {
        aheadState = ParseSideState(row[0]);
        const long long limit = std::atoll(row[1].c_str()), used = std::atoll(row[2].c_str());
        if (limit > 0) {
          std::lock_guard<std::mutex> lock(spareMu);
          const long long room = limit - used - kSpareConnections;  // (those made so far are among used)
          sideLimit = sidesMade + static_cast<size_t>(std::max(room, 0LL));
        }
      }
    } catch (...) {
    }
  }
  // Opening the connection took about six round trips: the handshake, the
  // login and the driver's own settings.
  const size_t want = LanesFor(connectMs / 6);
  std::lock_guard<std::mutex> lock(spareMu);
  for (size_t n = spare.size() + connecting; n < want; ++n) {
    std::unique_ptr<SideLink> link = NewSide();
    if (!link) return;
    ++connecting;
    openers.emplace_back([this, l = link.release(), cs = connectionString, state = aheadState] {
      std::unique_ptr<SideLink> opened(l);
      if (opened->Open(cs) && state) ReadySide(*opened, cs, *state);
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
