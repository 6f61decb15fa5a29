#include "mariadb_test_db.h"

#include <mysql.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "support/test_support.h"

namespace brenvo::test {
namespace {

MariaServer FromEnv(const std::string& name) {
  return {TestEnv(name + "_HOST"), TestEnv(name + "_SOCKET"), TestEnv(name + "_ROOT_PASSWORD")};
}

struct Closer {
  void operator()(MYSQL* m) const { mysql_close(m); }
};
using Conn = std::unique_ptr<MYSQL, Closer>;

Conn RootConnect(const MariaServer& s) {
  if (!s.started()) throw std::runtime_error("test server not started");
  Conn m(mysql_init(nullptr));
  mysql_optionsv(m.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
  if (!mysql_real_connect(m.get(), "localhost", "root", s.rootPassword.c_str(), nullptr, 0, s.socket.c_str(),
                          CLIENT_MULTI_STATEMENTS))
    throw std::runtime_error(std::string("root connect: ") + mysql_error(m.get()));
  return m;
}

void Check(MYSQL* m, int rc, const std::string& sql) {
  if (rc != 0) throw std::runtime_error(std::string(mysql_error(m)) + " in: " + sql.substr(0, 200));
}

std::string Quote(const std::string& name) {
  std::string out = "`";
  for (char c : name) {
    if (c == '`') out += '`';
    out += c;
  }
  return out + "`";
}

std::string Literal(MYSQL* m, const std::string& s) {
  std::string to(s.size() * 2 + 1, '\0');
  to.resize(mysql_real_escape_string(m, to.data(), s.data(), s.size()));
  return "'" + to + "'";
}

void ExecOn(MYSQL* m, const std::string& sql) {
  Check(m, mysql_real_query(m, sql.data(), sql.size()), sql);
  // Drain every result of a multi-statement batch; a later failing
  // statement reports here.
  for (;;) {
    if (MYSQL_RES* r = mysql_store_result(m)) mysql_free_result(r);
    int more = mysql_next_result(m);
    if (more > 0) Check(m, 1, sql);
    if (more != 0) break;
  }
}

}  // namespace

MariaServer CsServer() { return FromEnv("CS"); }
MariaServer AdminServer() { return FromEnv("ADMIN"); }
MariaServer LocalServer() { return FromEnv("LOCAL"); }

std::string UniqueName(const std::string& prefix) {
  static std::atomic<int> counter{0};
  return prefix + "_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

void RootExec(const MariaServer& server, const std::string& sql) {
  Conn m = RootConnect(server);
  ExecOn(m.get(), sql);
}

std::vector<std::vector<std::string>> RootQuery(const MariaServer& server, const std::string& sql) {
  Conn m = RootConnect(server);
  Check(m.get(), mysql_real_query(m.get(), sql.data(), sql.size()), sql);
  std::vector<std::vector<std::string>> out;
  MYSQL_RES* r = mysql_store_result(m.get());
  if (!r) return out;
  unsigned n = mysql_num_fields(r);
  while (MYSQL_ROW row = mysql_fetch_row(r)) {
    unsigned long* len = mysql_fetch_lengths(r);
    std::vector<std::string> v;
    for (unsigned i = 0; i < n; ++i) v.push_back(row[i] ? std::string(row[i], len[i]) : "\\N");
    out.push_back(std::move(v));
  }
  mysql_free_result(r);
  return out;
}

void CreateDatabase(const MariaServer& server, const std::string& name, const std::string& charset) {
  RootExec(server, "CREATE DATABASE " + Quote(name) + " CHARACTER SET " + charset);
}

std::string OwnCsSchemaPath() { return BRENVO_OWN_CS_SCHEMA; }

bool CreateCsDatabase(const MariaServer& server, const std::string& name, const std::string& charset,
                      CsSchemaSource source) {
  auto dir = FixturesDir();
  std::string schema, seed;
  if (source != CsSchemaSource::Own && !dir.empty()) {
    schema = ReadFile(dir / "brenvo" / "cs_schema.sql");
    seed = ReadFile(dir / "brenvo" / "cs_seed_version.sql");
    // The fixture schema names utf8mb4 on every table; a CS DB of another
    // character set carries its own on every table.
    const std::string from = "CHARSET=utf8mb4", to = "CHARSET=" + charset;
    for (size_t p = 0; (p = schema.find(from, p)) != std::string::npos; p += to.size()) schema.replace(p, from.size(), to);
  }
  if (schema.empty()) {
    if (source == CsSchemaSource::Fixtures) return false;
    schema = ReadFile(OwnCsSchemaPath());
    seed = "INSERT INTO `dbversion` (`dbid`, `ver`) VALUES ('main', 12);";
  }
  if (schema.empty()) return false;
  CreateDatabase(server, name, charset);
  Conn m = RootConnect(server);
  Check(m.get(), mysql_select_db(m.get(), name.c_str()), "USE " + name);
  ExecOn(m.get(), schema);
  ExecOn(m.get(), seed);
  return true;
}

void DropDatabase(const MariaServer& server, const std::string& name) {
  RootExec(server, "DROP DATABASE IF EXISTS " + Quote(name));
}

void CreateAccount(const MariaServer& server, const std::string& user, const std::string& password,
                   const std::string& db) {
  Conn m = RootConnect(server);
  const std::string u = Literal(m.get(), user), pw = Literal(m.get(), password);
  const std::string on = db.empty() ? "*.*" : Quote(db) + ".*";
  for (const char* host : {"'%'", "'localhost'"}) {
    ExecOn(m.get(), "CREATE OR REPLACE USER " + u + "@" + host + " IDENTIFIED BY " + pw);
    ExecOn(m.get(), "GRANT ALL PRIVILEGES ON " + on + " TO " + u + "@" + host);
  }
}

void DropAccount(const MariaServer& server, const std::string& user) {
  Conn m = RootConnect(server);
  const std::string u = Literal(m.get(), user);
  ExecOn(m.get(), "DROP USER IF EXISTS " + u + "@'%', " + u + "@'localhost'");
}

ScopedDatabase::~ScopedDatabase() {
  try {
    if (server_.started()) DropDatabase(server_, name_);
  } catch (...) {
  }
}

}  // namespace brenvo::test
