// What the ODBC record sets of one connection share: the connection's
// handles, the list of its record sets, and the small helpers they all use.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "db/odbc/odbc_util.h"

namespace brenvo::odbc {

// A record set's statements live on its connection's handle. When the
// connection closes (or goes away) first, it closes its record sets, which
// free their statements before the handle is; a closed record set then
// reports "closed" instead of touching freed handles.
//
// The driver does not guard a connection used from two threads, and an
// appender's sender thread uses it while the caller goes on: so before any
// call on the connection the caller waits until no batch of any of its
// record sets is on its way (WaitIdle).
class SessionChild {
 public:
  virtual ~SessionChild() = default;
  virtual void Detach() = 0;
  virtual void WaitIdle() {}
};

// A second connection to the server and database of a session's own, over
// which an appender's batches go side by side with others (a round trip to
// a distant server then costs once for several batches).
struct SideLink {
  DbcHandle dbc;
  bool connected = false;
  std::string proven;  // the connection id and database Connect found it with
  bool autocommitOff = false;
  std::string settings;  // the session settings last copied onto it
  SideLink() = default;
  SideLink(const SideLink&) = delete;
  SideLink& operator=(const SideLink&) = delete;
  ~SideLink();
  // Connects (once), then proves (once) it reached the very server, account
  // and database of the session's own connection, whose CONNECTION_ID() is
  // mainId: the data-source record it is opened by may have changed since.
  bool Connect(const std::string& connectionString, const std::string& mainId, const std::string& database);
  // Only the first half: the driver's own connecting, several round trips,
  // which can go ahead of the proof.
  bool Open(const std::string& connectionString);
  static std::string ProofFor(const std::string& mainId, const std::string& database) {
    return mainId + '\n' + database;
  }
};

// What side connections copy from the session's own connection: its
// connection id and database (the proof) and the settings that decide how
// rows are stored ("SET SESSION ..."), with its sql_mode on its own.
struct SideState {
  std::string sqlMode, connectionId, database, settings;
};
// A select-list item that reads them, the fields apart by CHAR(1).
extern const char* const kSideStateItem;
// Nothing where the item is not what kSideStateItem gives; all but sqlMode
// empty where a field is not plain (a text that would need quoting never
// is; anything else, no side connections).
std::optional<SideState> ParseSideState(const std::string& item);

struct Session {
  EnvHandle env;
  DbcHandle dbc;
  bool open = false;
  std::vector<SessionChild*> children;
  // What the connection was opened with, for side connections; empty: none.
  std::string connectionString;
  double roundTripMs = -1;  // timed once, by the first appender or large table read
  // The primary keys of keysDatabase's tables, by table, in key order.
  std::string keysDatabase;
  std::map<std::string, std::vector<std::string>> primaryKeys;
  double connectMs = -1;    // how long opening the connection took
  // Side connections no record set holds at the moment, kept for the next;
  // and those still connecting ahead (OpenSidesAhead), which join them.
  std::mutex spareMu;
  std::condition_variable spareCv;
  std::vector<std::unique_ptr<SideLink>> spare;
  size_t connecting = 0;
  std::vector<std::thread> openers;
  // Side connections made so far, and how many the account's own limit of
  // connections leaves room for (set by OpenSidesAhead where there is one).
  size_t sidesMade = 0;
  size_t sideLimit = SIZE_MAX;
  // Read by OpenSidesAhead: what those side connections are made ready for.
  std::optional<SideState> aheadState;

  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() { JoinOpeners(); }

  SQLHDBC handle() const { return dbc.get(); }
  void Add(SessionChild* c) { children.push_back(c); }
  void Remove(SessionChild* c) { std::erase(children, c); }
  void WaitIdle() {
    for (auto* c : children) c->WaitIdle();
  }
  void CloseChildren() {
    WaitIdle();
    auto all = children;
    for (auto* c : all) c->Detach();
    children.clear();
    JoinOpeners();
    std::lock_guard<std::mutex> lock(spareMu);
    spare.clear();
    roundTripMs = -1;
    aheadState.reset();
    sidesMade = 0;
    sideLimit = SIZE_MAX;
    keysDatabase.clear();
    primaryKeys.clear();
  }

  // A spare side connection (waiting for one still connecting ahead), or a
  // new one not yet connected (its handle is made here, on the caller's
  // thread; it may connect on another); null without a connection string.
  std::unique_ptr<SideLink> TakeSide();
  void ReturnSide(std::unique_ptr<SideLink> link);
  // Whether a spare side connection is proven for that connection id and
  // database, has those settings and autocommit off: a lane can take it
  // without a round trip.
  bool HasReadySide(const std::string& mainId, const std::string& database, const std::string& settings);
  // Starts connecting side connections in the background, as many as the
  // lanes of a table will want over this connection's round trip, so that
  // they are up by the time the first table's rows are. They are proven and
  // given the session's settings in the background too, as they stand now;
  // a lane proves them again and copies the settings again where the
  // session has changed since.
  void OpenSidesAhead();

 private:
  std::unique_ptr<SideLink> NewSide();
  static void ReadySide(SideLink& link, const std::string& cs, const SideState& state);
  void JoinOpeners();
};

// `name` with inner backticks doubled.
std::string QuoteName(const std::string& name);

StmtHandle NewStatement(SQLHDBC dbc);
void ExecDirect(SQLHSTMT stmt, const std::string& sql);
// The first row of sql as texts (NULL as empty); empty when there is none.
std::vector<std::string> FirstRowTexts(SQLHDBC dbc, const std::string& sql);

// The errors ADO's record set gives.
[[noreturn]] void NoCurrentRecord();
[[noreturn]] void NotSupported();
[[noreturn]] void Closed();
[[noreturn]] void BadIndex();

}  // namespace brenvo::odbc
