// What the ODBC record sets of one connection share: the connection's
// handles, the list of its record sets, and the small helpers they all use.
#pragma once

#include <memory>
#include <string>
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

struct Session {
  EnvHandle env;
  DbcHandle dbc;
  bool open = false;
  std::vector<SessionChild*> children;

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
  }
};

// `name` with inner backticks doubled.
std::string QuoteName(const std::string& name);

StmtHandle NewStatement(SQLHDBC dbc);
void ExecDirect(SQLHSTMT stmt, const std::string& sql);

// The errors ADO's record set gives.
[[noreturn]] void NoCurrentRecord();
[[noreturn]] void NotSupported();
[[noreturn]] void Closed();
[[noreturn]] void BadIndex();

}  // namespace brenvo::odbc
