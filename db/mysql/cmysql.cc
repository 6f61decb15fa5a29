#include "db/mysql/cmysql.h"

#include <mysql.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "util/error.h"
#include "util/text.h"

namespace brenvo::mysql {
namespace {

constexpr int kErrServerGone = 2006;  // CR_SERVER_GONE_ERROR
constexpr int kErrServerLost = 2013;  // CR_SERVER_LOST
constexpr int kErrConnHost = 2003;    // CR_CONN_HOST_ERROR (libmysqlclient: TCP server unreachable)
constexpr int kErrConnection = 2002;  // CR_CONNECTION_ERROR (Connector/C gives it for TCP too)

// Only blanks are stripped, not tabs or line breaks inside a value's edges.
std::string TrimBlanks(const char* p) { return p ? TrimSpaces(p) : std::string(); }

int32_t Low32(uint64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

const char* OrNull(const std::string& s) { return s.empty() ? nullptr : s.c_str(); }

const std::string kCrLf = "\r\n";

std::string ConnectFailureMessage(bool unreachable) {
  std::string m = "데이터베이스 서버에 접속할 수 없습니다.";
  if (unreachable) {
    m += kCrLf + kCrLf + "인터넷이 연결되어 있는지 확인 해 주세요." + kCrLf + kCrLf +
         "인터넷이 연결되어 있다면 방화벽이나 각종 스파이웨어 차단 프로그램이 가동중인지 확인해 주세요." + kCrLf +
         "관련 프로그램이 데이터베이스 접속을 방해하는 경우 일 수도 있습니다.";
  }
  return m;
}

std::string TimeoutNote(unsigned seconds) {
  return "서버가 " + std::to_string(seconds) + "초 동안 응답하지 않아 중단했습니다.";
}

}  // namespace

void cMySQL::ResultDeleter::operator()(st_mysql_res* r) const {
  if (r) mysql_free_result(r);
}

cMySQL::cMySQL(Prompter& prompter) : prompter_(prompter) {
  mysql_ = mysql_init(nullptr);
  if (!mysql_) throw BrenvoError(512, "Cannot Initialize a mysql record::Fatal", "cMysql::Initialize");
}

cMySQL::~cMySQL() {
  current_.reset();
  // The connection object is ours whether or not a connect succeeded.
  if (mysql_) mysql_close(mysql_);
}

void cMySQL::Reinitialise() {
  current_.reset();
  if (mysql_) mysql_close(mysql_);
  connected_ = false;
  attempted_ = false;
  mysql_ = mysql_init(nullptr);
  if (!mysql_) throw BrenvoError(512, "Cannot Initialize a mysql record::Fatal", "cMysql::Initialize");
}

void cMySQL::Raise(const std::string& member) {
  throw BrenvoError(static_cast<long>(mysql_errno(mysql_)), TrimBlanks(mysql_error(mysql_)), "cMysql::" + member);
}

bool cMySQL::real_connect(const std::string& host, const std::string& user, const std::string& passwd,
                          const std::string& db, int32_t port, const std::string& unix_socket, int32_t client_flag,
                          bool silent) {
  if (!host.empty()) host_ = host;
  if (!user.empty()) user_ = user;
  if (!passwd.empty()) password_ = passwd;
  if (!db.empty()) db_ = db;
  if (!unix_socket.empty()) unixSocket_ = unix_socket;
  if (port != 3306) port_ = port;
  if (client_flag != 0) clientFlags_ = client_flag;
  silent_ = silent;
  try {
    // The library refuses a second connect on a handle, and a handle that
    // failed once is not trusted again: start from a fresh one.
    if (connected_ || attempted_) Reinitialise();
    attempted_ = true;
    mysql_optionsv(mysql_, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    mysql_optionsv(mysql_, MYSQL_OPT_CONNECT_TIMEOUT, &timeouts_.connect);
    mysql_optionsv(mysql_, MYSQL_OPT_READ_TIMEOUT, &timeouts_.read);
    mysql_optionsv(mysql_, MYSQL_OPT_WRITE_TIMEOUT, &timeouts_.write);
    MYSQL* h = mysql_real_connect(mysql_, OrNull(host_), OrNull(user_), OrNull(password_), OrNull(db_),
                                  static_cast<unsigned>(port), OrNull(unixSocket_),
                                  static_cast<unsigned long>(static_cast<uint32_t>(clientFlags_)));
    if (h) {
      connected_ = true;
      return true;
    }
    const int n = static_cast<int>(mysql_errno(mysql_));
    // The older client library reported a TCP server it could not reach as
    // 2003; Connector/C says 2002 for TCP and socket alike. Both mean the
    // technician's network is the first thing to look at.
    const bool tcp = !(host_.empty() || host_ == "localhost");
    const bool unreachable = n == kErrConnHost || (n == kErrConnection && tcp);
    throw BrenvoError(n, TrimBlanks(mysql_error(mysql_)) + kCrLf + kCrLf + ConnectFailureMessage(unreachable),
                      "cMysql::real_connect");
  } catch (const BrenvoError& e) {
    if (!silent_) prompter_.Message("Error " + std::to_string(e.number()) + " " + e.description());
    return false;
  }
}

int32_t cMySQL::affected_rows() { return Low32(mysql_affected_rows(mysql_)); }

void cMySQL::create_db(const std::string& name) {
  // Connector/C has no create-database call; the statement is what the old
  // call sent, with the name quoted so that no name can break it.
  const std::string sql = "CREATE DATABASE " + QuoteIdentifier(name);
  if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0) Raise("create_db");
}

void cMySQL::debug_push(const std::string& debug) { mysql_debug(debug.c_str()); }

void cMySQL::dump_debug_info() {
  if (mysql_dump_debug_info(mysql_) != 0) Raise("dump_debug_info");
}

bool cMySQL::eof() { return current_ ? mysql_eof(current_.get()) != 0 : true; }

int32_t cMySQL::err_no() { return static_cast<int32_t>(mysql_errno(mysql_)); }

std::string cMySQL::err_description() { return TrimBlanks(mysql_error(mysql_)); }

std::string cMySQL::escape_string(const std::string& from) {
  std::string to(from.size() * 2 + 1, '\0');
  unsigned long n = mysql_real_escape_string(mysql_, to.data(), from.data(), from.size());
  if (n == static_cast<unsigned long>(-1)) n = mysql_escape_string(to.data(), from.data(), from.size());
  to.resize(n);
  return to;
}

void cMySQL::free_result() { current_.reset(); }

std::string cMySQL::get_client_info() {
  const char* p = mysql_get_client_info();
  if (!p) Raise("get_client_info");
  return TrimBlanks(p);
}

std::string cMySQL::get_host_info() {
  const char* p = mysql_get_host_info(mysql_);
  if (!p) Raise("get_host_info");
  return TrimBlanks(p);
}

std::string cMySQL::get_proto_info() {
  unsigned v = mysql_get_proto_info(mysql_);
  if (v == 0) Raise("get_proto_info");
  return std::to_string(v);
}

std::string cMySQL::get_server_info() {
  const char* p = mysql_get_server_info(mysql_);
  if (!p) Raise("get_server_info");
  return TrimBlanks(p);
}

std::string cMySQL::info() {
  const char* p = mysql_info(mysql_);
  if (!p) Raise("info");
  return TrimBlanks(p);
}

int32_t cMySQL::insert_id() { return Low32(mysql_insert_id(mysql_)); }

void cMySQL::Kill(int32_t thread) {
  (void)mysql_kill(mysql_, static_cast<unsigned long>(static_cast<uint32_t>(thread)));
}

std::unique_ptr<MemoryRecordset> cMySQL::ListByStatement(const std::string& statement) {
  if (mysql_real_query(mysql_, statement.data(), statement.size()) != 0) return nullptr;
  MYSQL_RES* res = mysql_store_result(mysql_);
  if (!res) return nullptr;
  return TakeResult(res);
}

// Connector/C builds "SHOW ... LIKE '<wild>'" without escaping the pattern;
// the same statement is built here with the pattern escaped, so a quote in a
// pattern cannot end the literal. "%" stands for an empty pattern.
std::unique_ptr<MemoryRecordset> cMySQL::list_dbs(const std::string& wild) {
  return ListByStatement("SHOW DATABASES LIKE '" + escape_string(wild.empty() ? "%" : wild) + "'");
}

std::unique_ptr<MemoryRecordset> cMySQL::list_fields(const std::string& table, const std::string& wild) {
  MYSQL_RES* res = mysql_list_fields(mysql_, table.c_str(), OrNull(wild));
  if (!res) return nullptr;
  return TakeResult(res);
}

std::unique_ptr<MemoryRecordset> cMySQL::list_processes() {
  MYSQL_RES* res = mysql_list_processes(mysql_);
  if (!res) return nullptr;
  return TakeResult(res);
}

std::unique_ptr<MemoryRecordset> cMySQL::list_tables(const std::string& wild) {
  return ListByStatement("SHOW TABLES LIKE '" + escape_string(wild.empty() ? "%" : wild) + "'");
}

int32_t cMySQL::num_fields() { return current_ ? static_cast<int32_t>(mysql_num_fields(current_.get())) : 0; }

int32_t cMySQL::num_rows() { return current_ ? Low32(mysql_num_rows(current_.get())) : 0; }

void cMySQL::ping() {
  if (mysql_ping(mysql_) != 0) Raise("ping");
}

std::unique_ptr<MemoryRecordset> cMySQL::StoreAfterStatement(const std::string& member) {
  MYSQL_RES* res = mysql_store_result(mysql_);
  if (!res) {
    // No result is normal for a statement without rows; a statement with
    // columns whose rows could not be fetched is a failure.
    if (mysql_field_count(mysql_) != 0 || mysql_errno(mysql_) != 0) Raise(member);
    return nullptr;
  }
  return TakeResult(res);
}

std::unique_ptr<MemoryRecordset> cMySQL::query(const std::string& statement) {
  bool reconnected = false;
  for (;;) {
    const auto started = std::chrono::steady_clock::now();
    try {
      if (mysql_real_query(mysql_, statement.data(), statement.size()) != 0) Raise("query");
      return StoreAfterStatement("query");
    } catch (const BrenvoError& e) {
      // The library says 2013 for a statement it cut off at the limit as
      // for a connection that died; only the time taken tells them apart.
      const bool timedOut = e.number() == kErrServerLost &&
                            std::chrono::steady_clock::now() - started >=
                                std::chrono::seconds(std::min(timeouts_.read, timeouts_.write)) -
                                    std::chrono::milliseconds(500);
      if (timedOut) {
        connected_ = false;
        prompter_.Message("Error " + std::to_string(e.number()) + " (" + e.description() + kCrLf +
                          TimeoutNote(timeouts_.read) + ")");
        return nullptr;
      }
      if ((e.number() == kErrServerGone || e.number() == kErrServerLost) && !reconnected) {
        const unsigned long dead = mysql_thread_id(mysql_);
        connected_ = false;
        // The stored port, not a fixed 3306, so that a server on another
        // port is found again.
        if (!real_connect(host_, user_, password_, db_, port_ != 0 ? port_ : 3306, {}, 0, silent_)) return nullptr;
        Kill(static_cast<int32_t>(dead));
        reconnected = true;
        continue;
      }
      prompter_.Message("Error " + std::to_string(e.number()) + " (" + e.description() + ")");
      return nullptr;
    }
  }
}

std::unique_ptr<MemoryRecordset> cMySQL::real_query(const std::string& statement, int32_t length) {
  const size_t n = std::min(statement.size(), static_cast<size_t>(std::max<int32_t>(length, 0)));
  if (mysql_real_query(mysql_, statement.data(), n) != 0) Raise("real_query");
  return StoreAfterStatement("real_query");
}

void cMySQL::Refresh(int32_t options) {
  if (mysql_refresh(mysql_, static_cast<unsigned>(options)) != 0) Raise("refresh");
}

void cMySQL::select_db(const std::string& db) {
  db_ = db;
  if (mysql_select_db(mysql_, db.c_str()) != 0) Raise("select_db");
}

void cMySQL::shutdown() {
  if (mysql_shutdown(mysql_, SHUTDOWN_DEFAULT) != 0) Raise("shutdown");
}

std::string cMySQL::stat() {
  const char* p = mysql_stat(mysql_);
  if (!p) Raise("stat");
  return TrimBlanks(p);
}

int32_t cMySQL::thread_id() {
  unsigned long id = mysql_thread_id(mysql_);
  if (id == 0) Raise("thread_id");
  return static_cast<int32_t>(static_cast<uint32_t>(id));
}

int32_t cMySQL::thread_safe() { return static_cast<int32_t>(mysql_thread_safe()); }

std::unique_ptr<MemoryRecordset> cMySQL::TakeResult(st_mysql_res* res) {
  current_.reset(res);
  const unsigned c = mysql_num_fields(res);
  MYSQL_FIELD* f = mysql_fetch_fields(res);

  struct Column {
    std::string name;
    std::string table;
    bool qualified = false;
    int32_t length = 0;
  };
  std::vector<Column> cols(c);
  for (unsigned i = 0; i < c; ++i) {
    cols[i].name = TrimBlanks(f[i].name);
    cols[i].table = TrimBlanks(f[i].table);
    cols[i].length = static_cast<int32_t>(static_cast<uint32_t>(f[i].length));
    // A name already qualified no longer matches, so of three equal names
    // the third stays plain.
    int matches = 0;
    for (unsigned k = 0; k < i; ++k) {
      if (cols[k].name != cols[i].name) continue;
      if (!cols[k].qualified) {
        cols[k].name = cols[k].table + "." + cols[k].name;
        cols[k].qualified = true;
      }
      ++matches;
    }
    if (matches > 0) {
      cols[i].name = cols[i].table + "." + cols[i].name;
      cols[i].qualified = true;
    }
  }

  std::vector<ado::FieldInfo> fields;
  fields.reserve(c);
  for (const auto& col : cols) {
    ado::FieldInfo fi;
    fi.name = col.name;
    fi.type = ado::adBSTR;
    fi.definedSize = col.length;
    fields.push_back(std::move(fi));
  }
  auto rs = std::make_unique<MemoryRecordset>(std::move(fields));
  while (MYSQL_ROW row = mysql_fetch_row(res)) {
    std::vector<std::string> values(c);
    for (unsigned i = 0; i < c; ++i) values[i] = TrimBlanks(row[i]);
    rs->AddRow(std::move(values));
  }
  return rs;
}

void UseLocalSocket(const std::string& path) {
  if (!path.empty()) ::setenv("MYSQL_UNIX_PORT", path.c_str(), 1);
}

std::string QuoteIdentifier(const std::string& name) {
  std::string out = "`";
  for (char ch : name) {
    if (ch == '`') out += '`';
    out += ch;
  }
  out += '`';
  return out;
}

}  // namespace brenvo::mysql
