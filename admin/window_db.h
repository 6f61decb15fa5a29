// Small pieces the server chores share: the main window's one direct MySQL
// connection, the root password setting, and the fixed accounts (from
// util/credentials.h).
#pragma once

#include <string>

#include "db/mysql/direct_db.h"
#include "screen/console.h"
#include "screen/window_db.h"
#include "util/credentials.h"
#include "util/text.h"

namespace brenvo::admin {

using ::brenvo::kAdminDatabase;
using ::brenvo::kAdminPassword;
using ::brenvo::kAdminUser;
using ::brenvo::kCsUserPassword;
// Where the workstation's root password lives (another program's settings;
// read only, never written here).
inline constexpr const char* kRootPwdApp = "Halden2계열 자료변환";

// The window's DirectDb, made on first use, its errors going to the log file.
using ::brenvo::WindowDb;

// The root password setting, "" when not set.
std::string RootPassword(Console& console);

}  // namespace brenvo::admin
