// How two programs share a database file. Jet on Windows keeps a lock file
// beside the database; here the database file itself carries open-file-
// description locks (fcntl F_OFD_SETLK) on one byte far beyond any real page,
// so they never touch data and work between processes and between two opens
// in the same process alike:
//
//   a reader holds a shared (read) lock on kLockByte for as long as it has
//   the file open; a writer holds an exclusive (write) lock on it.
//
// So a reader is refused while a writer has the file, and a writer while
// anyone has it open. The lock goes away with the descriptor, so a killed
// process never leaves a stale lock behind (unlike a lock file).
#pragma once

#include <cstdint>

namespace brenvo::jet {

inline constexpr int64_t kLockByte = 0x7FFFFFF0;

enum class LockKind { Shared, Exclusive };
enum class LockResult { Taken, Busy, Unsupported };

// Takes the lock on fd without waiting. Unsupported when the file system
// has no such locks (the file is then opened without protection).
LockResult TryLockDatabase(int fd, LockKind kind);

}  // namespace brenvo::jet
