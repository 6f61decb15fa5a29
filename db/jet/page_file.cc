#include "db/jet/page_file.h"

#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>

#include "db/jet/rc4.h"

namespace brenvo::jet {
namespace {

class FdSource : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {
    struct stat st {};
    size_ = fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  }
  ~FdSource() override { ::close(fd_); }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* buf, size_t len) const override {
    size_t done = 0;
    while (done < len) {
      ssize_t n = ::pread(fd_, buf + done, len - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_;
};

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, uint8_t* buf, size_t len) const override {
    if (offset > bytes_.size() || len > bytes_.size() - offset) return false;
    std::copy(bytes_.begin() + static_cast<long>(offset), bytes_.begin() + static_cast<long>(offset + len), buf);
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace

std::unique_ptr<ByteSource> MakeFdSource(int fd) { return std::make_unique<FdSource>(fd); }
std::unique_ptr<ByteSource> MakeMemorySource(std::vector<uint8_t> bytes) {
  return std::make_unique<MemorySource>(std::move(bytes));
}

PageFile::PageFile(std::unique_ptr<ByteSource> source, const JetFormat& format)
    : source_(std::move(source)), format_(&format), pageSize_(format.pageSize), cache_(kSlots, {UINT32_MAX, nullptr}) {
  uint64_t pages = source_->Size() / pageSize_;
  // Jet page numbers are at most 24 bits in row pointers; anything beyond is
  // unreachable and not worth the arithmetic risk.
  pageCount_ = static_cast<uint32_t>(pages > 0xFFFFFF ? 0xFFFFFF : pages);
}

PageRef PageFile::Read(uint32_t page) const {
  auto& slot = cache_[page % kSlots];
  if (slot.first == page && slot.second) return slot.second;
  if (page >= pageCount_) ThrowCorrupt("page " + std::to_string(page) + " beyond the end of the file");
  auto buf = std::make_shared<std::vector<uint8_t>>(pageSize_);
  if (!source_->ReadAt(static_cast<uint64_t>(page) * pageSize_, buf->data(), pageSize_))
    ThrowCorrupt("page " + std::to_string(page) + " cannot be read");
  if (dbKey_ != 0 && page > 0) {
    uint32_t k = dbKey_ ^ page;
    uint8_t key[4];
    Put32(key, k);
    Rc4Xor(key, 4, buf->data(), buf->size());
  }
  slot = {page, buf};
  return buf;
}

}  // namespace brenvo::jet
