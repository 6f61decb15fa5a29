#include "db/odbc/odbc_connection.h"

#include <odbcinst.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "db/odbc/odbc_recordset.h"
#include "db/odbc/odbc_util.h"
#include "util/error.h"

namespace brenvo::odbc {
namespace {

// The server a connection string leads to: its SERVER, or its data source's.
std::string ServerOf(const std::string& cs) {
  if (auto server = ado::ConnectionStringValue(cs, "SERVER")) return *server;
  auto dsn = ado::ConnectionStringValue(cs, "DSN");
  if (!dsn) return {};
  char buf[1024] = {};
  SQLGetPrivateProfileString(dsn->c_str(), "SERVER", "", buf, sizeof buf, "odbc.ini");
  return buf;
}

class OdbcConnection : public ado::Connection {
 public:
  void Open(const std::string& connectionString) override {
    if (open_) throw BrenvoError(3705, "Operation is not allowed when the object is open.", "ADODB.Connection");
    Check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, session_->env.out()), SQL_HANDLE_ENV, SQL_NULL_HANDLE,
          "SQLAllocHandle");
    Check(SQLSetEnvAttr(session_->env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
          SQL_HANDLE_ENV, session_->env.get(), "SQLSetEnvAttr");
    Check(SQLAllocHandle(SQL_HANDLE_DBC, session_->env.get(), session_->dbc.out()), SQL_HANDLE_ENV, session_->env.get(), "SQLAllocHandle");
    SQLSetConnectAttr(session_->dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(ConnectionTimeout())), 0);
    // The connection speaks utf8mb4 whatever the database's character set;
    // the server converts, so no text depends on the workstation's code page.
    std::string cs = connectionString;
    if (!ado::ConnectionStringValue(cs, "CHARSET")) cs += (cs.empty() || cs.back() == ';' ? "" : ";") + std::string("CHARSET=utf8mb4");
    // Connector/ODBC goes to "localhost" over TCP unless told a socket, and
    // told one it uses it for any host; so the socket is named only when the
    // server is "localhost", and it is the one Connector/C uses too.
    if (!ado::ConnectionStringValue(cs, "SOCKET") && ServerOf(cs) == "localhost") {
      const char* sock = std::getenv("MYSQL_UNIX_PORT");
      if (sock && *sock) cs += ";SOCKET=" + std::string(sock);
    }
    std::u16string w = Utf8ToUtf16(cs);
    const auto t0 = std::chrono::steady_clock::now();
    SQLRETURN rc = SQLDriverConnectW(session_->dbc.get(), nullptr, W(w), static_cast<SQLSMALLINT>(w.size()), nullptr, 0,
                                     nullptr, SQL_DRIVER_NOPROMPT);
    try {
      Check(rc, SQL_HANDLE_DBC, session_->dbc.get(), "SQLDriverConnect");
    } catch (...) {
      session_->dbc.reset();
      session_->env.reset();
      throw;
    }
    session_->connectMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    session_->connectionString = cs;
    open_ = true;
  }

  void WillAppend() override {
    if (open_) session_->OpenSidesAhead();
  }

  int State() const override { return open_ ? ado::adStateOpen : ado::adStateClosed; }

  void Close() override {
    if (!open_) throw BrenvoError(3704, "Operation is not allowed when the object is closed.", "ADODB.Connection");
    session_->CloseChildren();
    session_->connectionString.clear();
    SQLDisconnect(session_->dbc.get());
    session_->dbc.reset();
    session_->env.reset();
    open_ = false;
  }

  ~OdbcConnection() override {
    session_->CloseChildren();
    if (open_) SQLDisconnect(session_->dbc.get());
    session_->dbc.reset();
    session_->env.reset();
  }

  long long Execute(const std::string& sql) override {
    RequireOpen();
    session_->WaitIdle();
    StmtHandle s;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, session_->dbc.get(), s.out()), SQL_HANDLE_DBC, session_->dbc.get(), "SQLAllocHandle");
    std::u16string w = Utf8ToUtf16(sql);
    Check(SQLExecDirectW(s.get(), W(w), static_cast<SQLINTEGER>(w.size())), SQL_HANDLE_STMT, s.get(),
          "SQLExecDirect");
    SQLLEN n = 0;
    if (!Ok(SQLRowCount(s.get(), &n))) n = -1;
    return n;
  }

  std::unique_ptr<ado::Recordset> OpenQuery(const std::string& sql) override {
    RequireOpen();
    return OdbcReader::ForQuery(session_, sql);
  }

  // Connector/ODBC answers with the host it connected to, as it was given
  // ("localhost" for the socket).
  std::string ServerName() const override {
    if (!open_) return {};
    SQLWCHAR buf[512] = {};
    SQLSMALLINT len = 0;
    if (!Ok(SQLGetInfoW(session_->dbc.get(), SQL_SERVER_NAME, buf, sizeof buf, &len))) return {};
    const size_t chars = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(len, 0)) / sizeof(SQLWCHAR),
                                          sizeof buf / sizeof(SQLWCHAR) - 1);
    return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(buf), chars));
  }

  std::unique_ptr<ado::Recordset> OpenTable(const std::string& table, ado::OpenMode mode) override {
    RequireOpen();
    if (mode == ado::OpenMode::Append) return std::make_unique<OdbcAppender>(session_, table);
    return OdbcReader::ForTable(session_, table);
  }

 private:
  void RequireOpen() const {
    if (!open_) throw BrenvoError(3704, "Operation is not allowed when the object is closed.", "ADODB.Connection");
  }

  std::shared_ptr<Session> session_ = std::make_shared<Session>();
  bool open_ = false;
};

}  // namespace

std::unique_ptr<ado::Connection> MakeOdbcConnection() { return std::make_unique<OdbcConnection>(); }

}  // namespace brenvo::odbc
