#include "db/jet/write_pager.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "db/jet/byte_order.h"
#include "db/jet/jet_errors.h"
#include "db/jet/rc4.h"

namespace brenvo::jet {
namespace {

void Crypt(uint32_t key, uint32_t page, Page& bytes) {
  if (key == 0 || page == 0) return;
  uint8_t k[4];
  Put32(k, key ^ page);
  Rc4Xor(k, 4, bytes.data(), bytes.size());
}

}  // namespace

Pager::Pager(int fd, std::string path, uint32_t pageSize, uint32_t encryptionKey)
    : fd_(fd), path_(std::move(path)), pageSize_(pageSize), encryptionKey_(encryptionKey) {
  struct stat st {};
  if (fstat(fd_, &st) != 0) ThrowFileInUse(path_);
  pageCount_ = static_cast<uint32_t>(static_cast<uint64_t>(st.st_size) / pageSize_);
}

Pager::~Pager() { ::close(fd_); }

Page Pager::Read(uint32_t page) const {
  Page out;
  ReadInto(page, out);
  return out;
}

void Pager::ReadInto(uint32_t page, Page& out) const {
  // Resized only when needed: a buffer used page after page is neither
  // allocated nor cleared again before the read fills it.
  if (out.size() != pageSize_) out.resize(pageSize_);
  size_t done = 0;
  off_t at = static_cast<off_t>(page) * pageSize_;
  while (done < out.size()) {
    ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, at + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ThrowCorrupt("page " + std::to_string(page) + " cannot be read");
    if (n == 0) {
      // An allocated page not written yet reads as zeros.
      if (page < pageCount_) {
        std::fill(out.begin(), out.end(), 0);
        return;
      }
      ThrowCorrupt("page " + std::to_string(page) + " beyond the end of the file");
    }
    done += static_cast<size_t>(n);
  }
  Crypt(encryptionKey_, page, out);
}

void Pager::Write(uint32_t page, const Page& bytes) {
  if (failAfter_ == 0) {
    if (failOnce_) failAfter_ = -1;
    throw BrenvoError(kErrFail,
                      "Cannot write to the database file '" + path_ + "' (" + std::strerror(ENOSPC) +
                          "). The rows stored before the last durable point are kept.",
                      kJetSource);
  }
  if (failAfter_ > 0) --failAfter_;
  Page buf = bytes;
  Crypt(encryptionKey_, page, buf);
  size_t done = 0;
  off_t at = static_cast<off_t>(page) * pageSize_;
  while (done < buf.size()) {
    ssize_t n = ::pwrite(fd_, buf.data() + done, buf.size() - done, at + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int e = errno;
      throw BrenvoError(kErrFail,
                        "Cannot write to the database file '" + path_ + "' (" + std::strerror(e) +
                            "). The rows stored before the last durable point are kept.",
                        kJetSource);
    }
    done += static_cast<size_t>(n);
  }
  if (page >= pageCount_) pageCount_ = page + 1;
  // Start the disk on what is written so far, so that a durable point's
  // flush finds less left to write (durability still rests on Sync).
  if (++sinceKick_ >= kKickPages) {
    sinceKick_ = 0;
    // Errors surface at Sync; this is only a head start.
    (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
  }
}

uint32_t Pager::Allocate() { return AllocateAbove(0); }

uint32_t Pager::AllocateAbove(uint32_t floor) {
  uint32_t p;
  auto it = floor == 0 ? reusable_.begin() : reusable_.upper_bound(floor);
  if (it != reusable_.end()) {
    p = *it;
    reusable_.erase(it);
  } else {
    if (pageCount_ >= 0xFFFFFF)
      throw BrenvoError(kErrFail, "The database file '" + path_ + "' has reached its maximum size.", kJetSource);
    p = pageCount_++;
  }
  if (tracking_) private_.insert(p);
  return p;
}

void Pager::Sync() {
  if (::fdatasync(fd_) != 0) {
    int e = errno;
    throw BrenvoError(kErrFail, "Cannot flush the database file '" + path_ + "' (" + std::strerror(e) + ").",
                      kJetSource);
  }
}

void Pager::DurablePointReached() {
  reusable_.insert(pendingRelease_.begin(), pendingRelease_.end());
  pendingRelease_.clear();
}

void Pager::BeginPrivate() {
  struct stat st {};
  if (fstat(fd_, &st) != 0) ThrowFileInUse(path_);
  tracking_ = true;
  private_.clear();
  privateFromCount_ = pageCount_;
  privateFromSize_ = static_cast<uint64_t>(st.st_size);
}

std::vector<uint32_t> Pager::DropPrivate() {
  if (!tracking_) return {};
  tracking_ = false;
  std::vector<uint32_t> dropped(private_.begin(), private_.end());
  for (uint32_t p : private_)
    if (p < privateFromCount_) reusable_.insert(p);
  private_.clear();
  reusable_.erase(reusable_.lower_bound(privateFromCount_), reusable_.end());
  pageCount_ = privateFromCount_;
  // Gives the disk space back; a failure only leaves unreached pages behind.
  (void)::ftruncate(fd_, static_cast<off_t>(privateFromSize_));
  return dropped;
}

void Pager::EndPrivate() {
  tracking_ = false;
  private_.clear();
}

ByteView RowThroughPager(const Pager& pager, ByteView pv, const RowSlot& sl, Page& moved) {
  ByteView row = pv.Sub(sl.start, sl.length, "row");
  if (!sl.lookup) return row;
  RowPointer to = RowPointer::FromRaw(Get32(row.data));
  pager.ReadInto(to.page, moved);
  ByteView mv{moved.data(), moved.size()};
  RowSlot ms = ReadSlot(mv, to.row);
  return mv.Sub(ms.start, ms.length, "overflow row");
}

}  // namespace brenvo::jet
