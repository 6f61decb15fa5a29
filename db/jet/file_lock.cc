#include "db/jet/file_lock.h"

#include <fcntl.h>

#include <cerrno>

namespace brenvo::jet {

LockResult TryLockDatabase(int fd, LockKind kind) {
  struct flock fl {};
  fl.l_type = kind == LockKind::Shared ? F_RDLCK : F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockByte;
  fl.l_len = 1;
  fl.l_pid = 0;
  for (;;) {
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return LockResult::Taken;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return LockResult::Busy;
    return LockResult::Unsupported;
  }
}

}  // namespace brenvo::jet
