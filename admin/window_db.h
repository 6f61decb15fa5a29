// Small pieces the server chores share: the main window's one direct MySQL
// connection, the text helpers of the old forms, and the fixed accounts.
#pragma once

#include <string>

#include "db/mysql/direct_db.h"
#include "screen/console.h"
#include "screen/window_db.h"

namespace brenvo::admin {

// The management server's account and its default database.
inline constexpr const char* kAdminUser = "app_admin";
inline constexpr const char* kAdminPassword = "bz2946";
inline constexpr const char* kAdminDatabase = "app_admin";
// The password user creation gives every CS user; the process check logs in with it.
inline constexpr const char* kCsUserPassword = "rt528164";
// Where the workstation's root password lives (another program's settings;
// read only, never written here).
inline constexpr const char* kRootPwdApp = "Halden2계열 자료변환";

// The window's DirectDb, made on first use, its errors going to the log file.
using ::brenvo::WindowDb;

// Leading and trailing spaces removed (spaces only, as the old forms' Trim).
std::string TrimSpaces(const std::string& s);

// The number at the start of a text as the old forms read it: leading
// blanks skipped, an optional sign, digits with at most one decimal point;
// the rest ignored, nothing readable is 0. "1", " 1", "1.0", "1abc" are all 1.
double NumberValue(const std::string& s);

// The root password setting, "" when not set.
std::string RootPassword(Console& console);

}  // namespace brenvo::admin
