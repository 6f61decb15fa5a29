// The page layer: a Jet file is an array of fixed-size pages (4096 bytes in
// Jet 4, 2048 in Jet 3), page 0 the header. Everything above reads whole
// pages by number through PageFile, which checks the number against the
// file's size, undoes page encryption when the database uses it, and keeps a
// small cache so that long-value and overflow look-ups do not re-read pages
// a scan just saw. Reads use pread on the descriptor (or a memory buffer for
// the fuzzer); nothing maps or loads the whole file.
//
// Page types (byte 0 of each page):
//   0x00 header (page 0 only)    0x01 data (rows or long values)
//   0x02 table definition        0x03 index, inner node
//   0x04 index, leaf             0x05 usage-map bitmap
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/jet/byte_order.h"
#include "db/jet/code_page.h"
#include "db/jet/format.h"

namespace brenvo::jet {

enum PageType : uint8_t {
  kPageHeader = 0x00,
  kPageData = 0x01,
  kPageTableDef = 0x02,
  kPageIndexNode = 0x03,
  kPageIndexLeaf = 0x04,
  kPageUsageMap = 0x05,
};

// Where the bytes come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly len bytes at offset or returns false.
  virtual bool ReadAt(uint64_t offset, uint8_t* buf, size_t len) const = 0;
};

// Takes ownership of the descriptor.
std::unique_ptr<ByteSource> MakeFdSource(int fd);
std::unique_ptr<ByteSource> MakeMemorySource(std::vector<uint8_t> bytes);

using PageRef = std::shared_ptr<const std::vector<uint8_t>>;

class PageFile {
 public:
  PageFile(std::unique_ptr<ByteSource> source, const JetFormat& format);

  const JetFormat& Format() const { return *format_; }
  // Jet 3 files: the code page their text is stored in (nullptr for Jet 4).
  const CodePage* Text() const { return codePage_.get(); }
  void SetCodePage(std::unique_ptr<const CodePage> cp) { codePage_ = std::move(cp); }
  uint32_t PageSize() const { return pageSize_; }
  uint32_t PageCount() const { return pageCount_; }
  // RC4 page encryption: each page p > 0 is XOR-ed with RC4(key ^ p).
  void SetEncryptionKey(uint32_t key) { dbKey_ = key; }

  // The page's bytes; throws a damaged-file error when the number is out of
  // range or the read fails. The reference stays valid after later reads.
  PageRef Read(uint32_t page) const;
  ByteView View(const PageRef& p) const { return {p->data(), p->size()}; }

 private:
  std::unique_ptr<ByteSource> source_;
  const JetFormat* format_;
  std::unique_ptr<const CodePage> codePage_;
  uint32_t pageSize_;
  uint32_t pageCount_;
  uint32_t dbKey_ = 0;
  // Direct-mapped: slot = page % kSlots. Scans touch each data page once, so
  // a tiny cache is enough for the pages that are read again (long values,
  // overflow targets, usage-map pages).
  static constexpr size_t kSlots = 64;
  mutable std::vector<std::pair<uint32_t, PageRef>> cache_;
};

}  // namespace brenvo::jet
