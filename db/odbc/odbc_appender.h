// Appending to a table through ODBC.
//
// Appending prepares "INSERT INTO t (columns set) VALUES (?, ...)" once per
// set of columns a row fills (a column left unset keeps the column's
// default, as with ADO), and stores one row per Update. In batches
// (SetBatchRows) the queued rows go as one execution of that statement with
// arrays of parameters, which the driver sends to the server in one bulk
// command, inside a transaction of its own: a refused batch is rolled back,
// stores nothing, and its rows are stored again one by one, so each succeeds
// or fails on its own. A batch whose rows leave out different columns (a
// column left out counts as NULL where NULL is its default), or whose values
// in one column are of different kinds, goes as one array per run of alike
// rows (a run too wide for one array in halves); only rows no array takes
// go as a multi-row INSERT of literals (an
// unset column as DEFAULT; InnoDB runs the statement as a whole). Tables of
// other engines are not batched.
// A full batch is sent by a thread of the record set's own while the caller
// fills the next one and builds its arrays; one batch is being stored and at
// most one more waits for the sender, and everything else the record set
// does on the connection waits until both are done (odbc_sender.cc).
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "db/ado/recordset.h"
#include "db/odbc/odbc_columns.h"
#include "db/odbc/odbc_params.h"
#include "db/odbc/odbc_session.h"

namespace brenvo::odbc {

class OdbcAppender : public ado::Recordset, public SessionChild {
 public:
  OdbcAppender(std::shared_ptr<Session> session, std::string table);
  ~OdbcAppender() override;
  void Detach() override;
  void WaitIdle() override { WaitForSender(); }

  int State() const override { return open_ ? ado::adStateOpen : ado::adStateClosed; }
  void Close() override;
  bool Eof() const override;
  void MoveNext() override;
  void MoveFirst() override {}
  int FieldCount() const override { return static_cast<int>(cols_.size()); }
  const ado::FieldInfo& Field(int i) const override;
  const ado::Value& GetValue(int i) const override;
  void AddNew() override;
  void SetValue(int i, ado::Value v) override;
  void Update() override;
  void SetBatchRows(int rows) override;
  std::vector<RowFailure> Flush() override;

  // False for tables whose engine cannot undo a half-stored statement.
  bool CanBatch() const { return canBatch_; }

 private:
  struct Queued {
    std::vector<ado::Value> values;
    std::vector<bool> set;
    long long index = 0;
  };
  // A connection batches go over, with its statements: the record set's
  // own, or a side connection of a lane.
  struct Link {
    SQLHDBC dbc = SQL_NULL_HANDLE;
    std::map<std::vector<bool>, StmtHandle> inserts;  // one row each
    std::vector<ParamBuffer> params;
    // The array statements (a statement's parameter set size stays with it,
    // so the one-row statements are kept apart).
    std::map<std::vector<bool>, StmtHandle> arrayInserts;
    bool inTxn = false;  // a transaction is open (begun by COMMIT AND CHAIN)
    bool autocommit = true;
  };
  struct Lane;
  struct Job;

  std::string InsertSql(const std::vector<bool>& set) const;
  SQLHSTMT StatementFor(Link& link, const std::vector<bool>& set);
  void StoreOne(Link& link, const std::vector<ado::Value>& values, const std::vector<bool>& set);
  bool AppendLiteralRow(const std::vector<ado::Value>& values, const std::vector<bool>& set, std::string& out) const;
  bool AppendLiteral(const ado::Value& v, const Column& col, std::string& out) const;
  void StoreBatch(bool full, bool last = false);
  size_t RunEnd(const std::vector<Queued>& rows, size_t from, bool splitWide) const;
  enum class ArrayResult { Stored, Refused, TooWide, NotSuitable };
  struct Run;  // a run of alike rows of a batch, with its parameter arrays
  std::vector<Run> MakeRuns(std::vector<Queued>&& rows, bool gatherWide) const;
  ArrayResult BuildArrays(Run& run) const;
  ArrayResult ExecuteArrays(Link& link, Run& run);
  ArrayResult ExecArrays(Link& link, Run& run, bool chain);
  void EndChain(Link& link);
  void SendBatch(std::vector<Run>& runs);
  void SendRun(Link& link, Run& run, bool chain, std::vector<RowFailure>& refused);
  void SendLiterals(Link& link, const std::vector<Queued>& rows, std::vector<RowFailure>& refused);
  void Replay(Link& link, const std::vector<Queued>& rows, size_t from, size_t to, std::vector<RowFailure>& refused);
  bool Exec(Link& link, const std::string& sql);
  void WaitForSender();
  void StopSender();
  void SenderLoop();
  void RequireOpen() const;

  // Lanes: batches side by side over side connections.
  bool StartLanes(size_t want);  // up to want lanes in all
  void LaneLoop(Lane& lane);
  void StoreJob(Lane& lane, Job& job);
  bool ExecuteJob(Link& link, std::vector<Run>& runs);
  void StoreAlone(Link& link, Job& job);
  void Resolved(long long seq);
  bool OpenAbove(long long seq) const;
  bool FailedBefore(long long seq) const;
  bool SetAutocommit(Link& link, bool on);

  std::shared_ptr<Session> session_;
  SQLHDBC dbc_;
  std::string table_;
  std::vector<Column> cols_;
  std::vector<ado::Value> row_;
  std::vector<bool> set_;
  bool pending_ = false;
  bool open_ = true;
  Link main_;

  bool canBatch_ = false;
  bool noBackslashEscapes_ = false;
  std::vector<bool> nullDefault_;  // nullable, default NULL, nothing generated
  size_t batchRows_ = 1;
  long long updates_ = 0;
  std::string batchHead_;  // "INSERT INTO t (all columns) VALUES "
  size_t queuedBytes_ = 0;
  std::vector<Queued> queue_;
  // The connection's id, database and the session settings that decide how
  // rows are stored, which side connections copy.
  std::string connectionId_, database_, settings_;

  std::mutex mu_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::vector<Run> doneRuns_;  // batches stored, for the caller to free
  std::vector<RowFailure> failures_;  // guarded by mu_ while batches are on their way

  // The sender on the record set's own connection: one batch being stored,
  // one more handed over and waiting.
  std::thread sender_;
  bool haveJob_ = false;  // a batch handed over and not yet taken by the sender
  bool sending_ = false;  // the sender is storing a batch
  std::vector<Run> jobRuns_;

  // Lanes, when side connections could be opened (lanesTried_). Batches are
  // numbered in the order they were filled; each goes in a transaction of
  // its own, several at once, and commits only once every batch before it
  // has gone through the server (so a later batch never takes a key from an
  // earlier one). A batch the server refuses waits until every batch before
  // it is stored and none after it holds a transaction, then goes row by
  // row as on the record set's own connection; the later ones go again.
  bool lanesTried_ = false;
  std::vector<std::unique_ptr<Lane>> lanes_;
  std::deque<std::unique_ptr<Job>> jobs_;
  long long nextSeq_ = 0;
  std::set<long long> through_;  // executed, waiting to commit, or resolved
  long long throughUpTo_ = 0;    // every batch below has gone through
  std::set<long long> resolved_;
  long long resolvedUpTo_ = 0;   // every batch below is stored or reported
  std::set<long long> failed_;   // refused batches not yet resolved
};

}  // namespace brenvo::odbc
