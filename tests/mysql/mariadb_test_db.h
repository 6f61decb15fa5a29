// Test helpers over the MariaDB servers that tests/env/start-20-mariadb.sh
// starts: the servers' addresses, root statements, CS databases made from
// the CS schema, and accounts. They talk to the servers with Connector/C
// directly, so the code under test never sets up its own test.
//
// Link brenvo_mariadb_testdb to use them from any test folder.
#pragma once

#include <string>
#include <vector>

namespace brenvo::test {

struct MariaServer {
  std::string host;          // its loopback address (port 3306)
  std::string socket;        // its Unix socket
  std::string rootPassword;  // root@'%' and root@localhost
  bool started() const { return !host.empty(); }
};

// From BRENVO_TEST_{CS,ADMIN,LOCAL}_{HOST,SOCKET,ROOT_PASSWORD}; empty when the
// servers were not started (tests skip with REQUIRE_TEST_ENV("CS_HOST") etc).
MariaServer CsServer();
MariaServer AdminServer();
MariaServer LocalServer();

// A database name no other test (or parallel test process) uses:
// prefix + "_" + process id + "_" + counter.
std::string UniqueName(const std::string& prefix);

// Runs statements as root over the socket (several separated by ';' are
// allowed); throws std::runtime_error with the server's message on failure.
void RootExec(const MariaServer& server, const std::string& sql);
// The rows of a query as text (NULL as "\N").
std::vector<std::vector<std::string>> RootQuery(const MariaServer& server, const std::string& sql);

// Creates database name with the given character set (every table in it)
// and the CS schema with its dbversion row ('main', 12): from the shared
// fixtures' cs_schema.sql when present, else from the project's own
// tests/mysql/cs_schema_own.sql. Fixtures only: false when they are absent.
enum class CsSchemaSource { FixturesOrOwn, Fixtures, Own };
bool CreateCsDatabase(const MariaServer& server, const std::string& name, const std::string& charset = "utf8mb4",
                      CsSchemaSource source = CsSchemaSource::FixturesOrOwn);
std::string OwnCsSchemaPath();
// An empty database.
void CreateDatabase(const MariaServer& server, const std::string& name, const std::string& charset = "utf8mb4");
void DropDatabase(const MariaServer& server, const std::string& name);

// user@'%' (and user@localhost) with password and every right on database db
// (all databases when db is empty).
void CreateAccount(const MariaServer& server, const std::string& user, const std::string& password,
                   const std::string& db);
void DropAccount(const MariaServer& server, const std::string& user);

// Drops the database when the scope ends (also after a failed assertion).
class ScopedDatabase {
 public:
  ScopedDatabase(const MariaServer& server, std::string name) : server_(server), name_(std::move(name)) {}
  ~ScopedDatabase();
  ScopedDatabase(const ScopedDatabase&) = delete;
  ScopedDatabase& operator=(const ScopedDatabase&) = delete;
  const std::string& name() const { return name_; }

 private:
  MariaServer server_;
  std::string name_;
};

}  // namespace brenvo::test
