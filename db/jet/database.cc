#include "db/jet/database.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "db/jet/file_lock.h"

namespace brenvo::jet {

std::unique_ptr<Database> Database::Open(const std::string& path, const std::string& password) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) ThrowFileNotFound(path);
    ThrowFileInUse(path);
  }
  if (TryLockDatabase(fd, LockKind::Shared) == LockResult::Busy) {
    ::close(fd);
    ThrowFileInUse(path);
  }
  auto source = MakeFdSource(fd);
  std::unique_ptr<Database> db(new Database);
  db->Load(std::move(source), path, password);
  return db;
}

std::unique_ptr<Database> Database::OpenSource(std::unique_ptr<ByteSource> source, const std::string& name,
                                               const std::string& password) {
  std::unique_ptr<Database> db(new Database);
  db->Load(std::move(source), name, password);
  return db;
}

void Database::Load(std::unique_ptr<ByteSource> source, const std::string& name, const std::string& password) {
  // Enough of page 0 for either header; the format then says how big a page is.
  std::vector<uint8_t> page0(std::min<uint64_t>(source->Size(), kJet4PageSize));
  if (page0.empty() || !source->ReadAt(0, page0.data(), page0.size())) ThrowUnrecognizedFormat(name);
  if (DecodeHeader(page0, header_) != HeaderCheck::Ok || source->Size() < header_.format->pageSize)
    ThrowUnrecognizedFormat(name);
  std::unique_ptr<const CodePage> text;
  std::u16string stored = header_.password;
  if (header_.format->IsJet3()) {
    text = std::make_unique<const CodePage>(header_.codePage);
    std::string pw;
    text->Decode(reinterpret_cast<const uint8_t*>(header_.codePagePassword.data()), header_.codePagePassword.size(),
                 pw);
    stored = Utf8ToUtf16(pw);
  }
  // Jet compares the password exactly; a database without one opens with any.
  if (!stored.empty() && stored != Utf8ToUtf16(password)) ThrowBadPassword();
  file_ = std::make_unique<PageFile>(std::move(source), *header_.format);
  file_->SetCodePage(std::move(text));
  if (header_.encryptionKey != 0) file_->SetEncryptionKey(header_.encryptionKey);
  catalog_ = ReadCatalog(*file_);
}

std::vector<std::string> Database::UserTables() const {
  std::vector<std::string> out;
  for (const auto& e : catalog_)
    if (e.IsUserTable()) out.push_back(e.name);
  return out;
}

const TableDef& Database::Table(const std::string& name) const {
  for (const auto& t : tables_) {
    for (const auto& e : catalog_)
      if (e.IsTable() && e.tableDefPage == t->page && SameName(e.name, name)) return *t;
  }
  for (const auto& e : catalog_) {
    if (!e.IsTable() || !SameName(e.name, name)) continue;
    if (e.tableDefPage == 0) ThrowCorrupt("table '" + name + "' has no definition page");
    tables_.push_back(std::make_unique<TableDef>(ReadTableDef(*file_, e.tableDefPage)));
    return *tables_.back();
  }
  ThrowNoTable(name);
}

}  // namespace brenvo::jet
