// Opening the host application's Access files (dbMain.mdb, and the empty
// target empty-dbMain.mdb for "Brenvo -> Brenvo"): where they are, the
// connection string with the host's fixed database password, and the
// connection settings. OpenMDB has no trap of its own: an open that fails is
// the caller's error to report.
#pragma once

#include <string>

#include "db/ado/recordset.h"
#include "util/credentials.h"
#include "util/prompter.h"
#include "util/settings_store.h"

namespace brenvo {

// The host application's settings name (AppName of the main window).
inline constexpr const char* kHostAppName = "Brenvo";

// AppPath (section "Config"; default kDefaultAppRoot + the settings name) +
// "DBS" + the file name; nothing is normalised.
std::string MdbFilePath(const SettingsStore& settings, bool bEmptyDB, const std::string& appName = kHostAppName);
std::string MdbConnectionString(const std::string& filePath);

// Opens conn (created by the caller, not yet open) on dbMain.mdb or, with
// bEmptyDB, on empty-dbMain.mdb. A missing empty file is told to the person
// at the screen first, then the open goes ahead and its failure is thrown.
// Returns true; every failure is thrown.
bool OpenMDB(ado::Connection& conn, const SettingsStore& settings, Prompter& prompter, bool bEmptyDB = false,
             const std::string& appName = kHostAppName);

}  // namespace brenvo
