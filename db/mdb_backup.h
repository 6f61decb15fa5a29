// The copy of an Access file taken before the first change to it: the
// customer's books as they were, in DBS/backup beside the file.
#pragma once

#include <string>

#include "db/ado/recordset.h"

namespace brenvo {

// How many copies of one file the backup folder keeps.
inline constexpr int kKeptBackups = 10;

// Copies the file open on target (a Jet connection on mdbPath) byte for
// byte to <folder of mdbPath>/backup/<file name without .mdb>_<yyyymmdd_hhmmss>.mdb
// and returns that path. The copy is taken through the connection's
// writer's lock, so nothing changes the file meanwhile, and is on disk
// (synced) before this returns. Of that file's copies the newest kKeptBackups
// stay; older ones of the same file are deleted, nothing else.
// When the copy cannot be made (full disk, no folder), the partial copy is
// removed and a BrenvoError with a Korean description is thrown: the caller
// must not change the file then.
std::string BackupMdb(ado::Connection& target, const std::string& mdbPath);

}  // namespace brenvo
