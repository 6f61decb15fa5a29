// Step 2 of the main window, "작업준비": find the CS database on the
// management server (table app_priv), check that the typed ID owns it,
// offer to block it, warn about connections still working in it, and give
// back the address of the server that holds it.
#pragma once

#include <string>

#include "screen/console.h"

namespace brenvo::admin {

// The address of the CS database's server, or "" when the lookup fails for
// any reason. logging: every notice goes to the log pane and nothing is
// asked or checked (the dump's upload uses it so); otherwise notices are
// message boxes, a database still active is offered for blocking and its
// server is asked for working connections.
std::string GetIPFromUserID(Console& console, bool logging);

// True when the server at host lists a connection whose current database
// is database, seen as user with the CS users' fixed password.
bool ExistProcess(Prompter& prompter, const std::string& host, const std::string& database, const std::string& user);

// Button "DB 작업준비".
void cmdChkCSDB_Click(Console& console);

}  // namespace brenvo::admin
