// The Jet 4 engine behind the record-set interface.
#pragma once

#include <memory>

#include "db/ado/recordset.h"

namespace brenvo::jet {
std::unique_ptr<ado::Connection> MakeJetConnection();

// Copies the file open on conn (a Jet connection) byte for byte to outFd,
// under the writer's lock: the connection becomes the file's writer first
// (if it is not yet) and commits what it has pending, so no other writer
// changes the file during the copy. Throws when conn is no Jet connection,
// the lock cannot be had, or a read or write fails.
void CopyOpenFile(ado::Connection& conn, int outFd);
}
