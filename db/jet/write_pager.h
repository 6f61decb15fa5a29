// The writing side's page access. Readers never see a page we are still
// building: new content goes to pages no committed structure reaches (pages
// past the old end of the file, or pages released by an earlier durable
// point), and the table definition page, written last, is what makes a
// durable point. Killed between two writes, the file still holds the state
// of the previous durable point.
//
// Pages released by a durable point become reusable only after that point
// is on disk, so a crash never leaves a committed structure pointing into a
// page that was overwritten.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "db/jet/data_page.h"

namespace brenvo::jet {

using Page = std::vector<uint8_t>;

class Pager {
 public:
  // Takes ownership of fd (opened read-write, already locked).
  Pager(int fd, std::string path, uint32_t pageSize, uint32_t encryptionKey);
  ~Pager();
  Pager(const Pager&) = delete;
  Pager& operator=(const Pager&) = delete;

  int Fd() const { return fd_; }
  uint32_t PageSize() const { return pageSize_; }
  uint32_t PageCount() const { return pageCount_; }

  Page Read(uint32_t page) const;
  // The same into a buffer the caller reuses.
  void ReadInto(uint32_t page, Page& out) const;
  // Throws BrenvoError when the write fails (full disk, I/O error); the
  // caller's durable point then does not happen.
  void Write(uint32_t page, const Page& bytes);

  // A page for new content: a reusable page if any, else a new one at the
  // end of the file (counted now, written later).
  uint32_t Allocate();
  // The same, but only a page numbered above floor: rows must lie on pages
  // in the order they were appended, since a scan follows page numbers.
  uint32_t AllocateAbove(uint32_t floor);
  // The page will be reusable after the next durable point.
  void Release(uint32_t page) { pendingRelease_.insert(page); }
  // Forgets an allocation that was never reached (rolled back).
  void Unallocate(uint32_t page) { reusable_.insert(page); }
  // Flushes written pages to the disk.
  void Sync();
  // Called once a durable point is on disk.
  void DurablePointReached();

  // A transaction's pages: from BeginPrivate on, every page handed out is
  // remembered, since no committed structure reaches it until the commit.
  // DropPrivate gives them all back and cuts the file to its length at
  // BeginPrivate (pages past it were all handed out since); EndPrivate
  // forgets the list once the commit made them part of the file.
  void BeginPrivate();
  // Returns the pages given back.
  std::vector<uint32_t> DropPrivate();
  void EndPrivate();

  // Pages that exist and belong to no structure right now.
  const std::set<uint32_t>& ReusablePages() const { return reusable_; }
  const std::set<uint32_t>& PendingRelease() const { return pendingRelease_; }

  // Pages some structure of the file owns, found when the writer opened it:
  // the next update of the global usage map marks them used, so a page
  // another program marked free while a table owns it does not stay so.
  void CarryPagesInUse(std::vector<uint32_t> pages) { inUse_ = std::move(pages); }
  std::vector<uint32_t> TakePagesInUse() { return std::exchange(inUse_, {}); }

  // Test hook: writes fail as on a full disk after this many more pages
  // (once: only that one write fails).
  void FailAfter(long pageWrites, bool once = false) {
    failAfter_ = pageWrites;
    failOnce_ = once;
  }

 private:
  int fd_;
  std::string path_;
  uint32_t pageSize_;
  uint32_t encryptionKey_;
  uint32_t pageCount_;
  std::set<uint32_t> reusable_;
  std::set<uint32_t> pendingRelease_;
  std::vector<uint32_t> inUse_;
  long failAfter_ = -1;
  bool failOnce_ = false;
  bool tracking_ = false;
  std::set<uint32_t> private_;
  uint32_t privateFromCount_ = 0;
  uint64_t privateFromSize_ = 0;
  // Pages written between two starts of write-back (2 MB).
  static constexpr int kKickPages = 512;
  int sinceKick_ = 0;
};

// The bytes of the live row in slot `sl` of the page `pv`, read through the
// pager so that a writer sees what it has made durable; an overflow row is
// followed to its real place, whose page is read into `moved`.
ByteView RowThroughPager(const Pager& pager, ByteView pv, const RowSlot& sl, Page& moved);

}  // namespace brenvo::jet
