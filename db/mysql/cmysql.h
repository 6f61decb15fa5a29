// cMySQL: one client connection to a MySQL server over MariaDB Connector/C.
//
// Every failing library call becomes a BrenvoError whose number is the
// library's error number, whose description is its error text and whose
// source is "cMysql::" + member. Only real_connect and query trap their own
// errors (with a message box); the other members let them travel.
//
// Text: the program is UTF-8 inside, and the connection's character set is
// utf8mb4, so the server converts to and from whatever character set a CS
// database uses (utf8mb4, euckr, ...). Everything read from the library is
// stripped of leading and trailing blanks and a NULL reads as "".
//
// 64-bit counts (affected rows, insert id, rows) are handed on as their low
// 32 bits taken as a signed number, so the library's "error" count (all bits
// set) reads -1.
//
// Time limits: a connect gives up after 10 s, and a statement whose answer
// (or whose sending) stalls for 60 s is cut off (see Timeouts). Both come
// back as the library's error 2013 through the usual traps; a statement cut
// off by the limit is not sent again by the reconnect, which is meant for a
// connection the server dropped while it was idle.
//
// Results come back as MemoryRecordset, every column text. Two columns of the
// same name are both qualified "table.name"; a third of that name stays plain.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "db/mysql/memory_recordset.h"
#include "util/prompter.h"

struct st_mysql;
struct st_mysql_res;

namespace brenvo::mysql {

class cMySQL {
 public:
  // Seconds. Every statement the console sends through this class is a
  // lookup or change of a few rows on small tables (sign-in, allow-list,
  // app_priv, the process list, GRANT), answered in milliseconds. The
  // longest legitimate wait is a row lock held by another session, which
  // InnoDB itself ends after 50 s (innodb_lock_wait_timeout) with an error
  // of its own; 60 s lies above that, so the server's own answer always
  // comes first and only a server that went silent meets the limit.
  struct Timeouts {
    unsigned connect = 10;
    unsigned read = 60;
    unsigned write = 60;
  };

  // Initialises the library's connection object; error 512
  // "cMysql::Initialize" when it cannot. Message boxes go to prompter.
  explicit cMySQL(Prompter& prompter);
  ~cMySQL();
  cMySQL(const cMySQL&) = delete;
  cMySQL& operator=(const cMySQL&) = delete;

  // Empty texts fall back to the properties (and are not stored); port 3306
  // and client_flag 0 are not stored either. Never throws: a failure shows
  // "Error N description" unless silent, and gives false.
  bool real_connect(const std::string& host = {}, const std::string& user = {}, const std::string& passwd = {},
                    const std::string& db = {}, int32_t port = 3306, const std::string& unix_socket = {},
                    int32_t client_flag = 0, bool silent = false);
  int32_t affected_rows();
  void create_db(const std::string& name);
  void debug_push(const std::string& debug);
  void dump_debug_info();
  // True when there is no current result or its rows are all fetched.
  bool eof();
  int32_t err_no();
  std::string err_description();
  // from escaped for use inside a quoted SQL literal, in the manner the
  // connected server expects (backslash escapes or doubled quotes).
  std::string escape_string(const std::string& from);
  // Releases the current result; harmless at any time.
  void free_result();
  std::string get_client_info();
  std::string get_host_info();
  std::string get_proto_info();
  std::string get_server_info();
  std::string info();
  int32_t insert_id();
  void Kill(int32_t thread);
  // The list members give no row set (nullptr) on failure. An empty wildcard
  // lists everything.
  std::unique_ptr<MemoryRecordset> list_dbs(const std::string& wild);
  std::unique_ptr<MemoryRecordset> list_fields(const std::string& table, const std::string& wild);
  std::unique_ptr<MemoryRecordset> list_processes();
  std::unique_ptr<MemoryRecordset> list_tables(const std::string& wild);
  int32_t num_fields();
  int32_t num_rows();
  void ping();
  // Runs a statement: the rows as a row set, or nullptr for a statement
  // without rows and after a failure (shown as "Error N (description)").
  // A connection lost (2006, 2013) is reconnected once per call, the dead
  // server thread killed, and the statement sent again.
  std::unique_ptr<MemoryRecordset> query(const std::string& statement);
  // As query, over the first length bytes, without trap or reconnect.
  std::unique_ptr<MemoryRecordset> real_query(const std::string& statement, int32_t length);
  void Refresh(int32_t options);
  // The db property takes the name first, whatever the outcome.
  void select_db(const std::string& db);
  void shutdown();
  std::string stat();
  int32_t thread_id();
  int32_t thread_safe();

  // The seven properties; the next real_connect with empty arguments uses them.
  const std::string& user() const { return user_; }
  void user(const std::string& sUsername) { user_ = sUsername; }
  const std::string& password() const { return password_; }
  void password(const std::string& sPassword) { password_ = sPassword; }
  const std::string& host() const { return host_; }
  void host(const std::string& sHost) { host_ = sHost; }
  int32_t port() const { return port_; }
  void port(int32_t sPort) { port_ = sPort; }
  const std::string& db() const { return db_; }
  void db(const std::string& sDB) { db_ = sDB; }
  int32_t ClientFlags() const { return clientFlags_; }
  void ClientFlags(int32_t sClientFlags) { clientFlags_ = sClientFlags; }
  const std::string& unix_socket() const { return unixSocket_; }
  void unix_socket(const std::string& sUnix_socket) { unixSocket_ = sUnix_socket; }

  // Taken by the next real_connect (tests shorten them).
  void timeouts(const Timeouts& t) { timeouts_ = t; }
  const Timeouts& timeouts() const { return timeouts_; }

  // True between a successful real_connect and the connection's loss or end.
  bool connected() const { return connected_; }

 private:
  struct ResultDeleter {
    void operator()(st_mysql_res* r) const;
  };
  using Result = std::unique_ptr<st_mysql_res, ResultDeleter>;

  void Reinitialise();
  [[noreturn]] void Raise(const std::string& member);
  std::unique_ptr<MemoryRecordset> TakeResult(st_mysql_res* res);
  std::unique_ptr<MemoryRecordset> StoreAfterStatement(const std::string& member);
  std::unique_ptr<MemoryRecordset> ListByStatement(const std::string& statement);

  Prompter& prompter_;
  st_mysql* mysql_ = nullptr;
  bool connected_ = false;
  bool attempted_ = false;  // a real_connect has used the handle since it was initialised
  Result current_;

  std::string user_, password_, host_, db_, unixSocket_;
  int32_t clientFlags_ = 0;
  int32_t port_ = 0;
  bool silent_ = false;
  Timeouts timeouts_;
};

// The "localhost" server is reached through a Unix socket. Connector/C and
// Connector/ODBC take its path from MYSQL_UNIX_PORT; this points both at
// path (nothing when path is empty). The window calls it at start with the
// "LocalSocket" key of section "Config".
void UseLocalSocket(const std::string& path);

// name as a quoted SQL identifier: `name`, inner backticks doubled.
std::string QuoteIdentifier(const std::string& name);

}  // namespace brenvo::mysql
