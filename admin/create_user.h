// Button "유저생성": on the workstation's own MySQL server, as root, the CS
// user named in step 3 gets every right on the CS database named there,
// from any host and from the local host, with the CS users' fixed password.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "screen/console.h"

namespace brenvo::admin {

void cmdCreateUser_Click(Console& console);

// False when id or db holds what cannot be quoted safely: control
// characters, text that is not UTF-8.
bool SafeToGrant(const std::string& id, const std::string& db);

// db as GRANT reads a database name: "_" and "%" are wildcards there (and a
// backslash their escape), so each is escaped and the grant names exactly one
// database. "%" alone would otherwise grant on every database, mysql included.
std::string GrantDatabasePattern(const std::string& db);

// The two GRANT statements: the database (its wildcards escaped) as a quoted
// identifier, the user as
// a string literal escaped by escape (the connection's own escaping, which
// knows the server's quoting mode). Both exactly as typed otherwise, so an
// ID with a trailing space is granted with that space.
struct GrantStatements {
  std::string anyHost;
  std::string localHost;
};
GrantStatements MakeGrantStatements(const std::string& id, const std::string& db,
                                    const std::function<std::string(const std::string&)>& escape);

}  // namespace brenvo::admin
