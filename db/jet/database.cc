#include "db/jet/database.h"

#include <fcntl.h>
#include <unistd.h>

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
  std::vector<uint8_t> page0(kJet4PageSize);
  if (source->Size() < kJet4PageSize || !source->ReadAt(0, page0.data(), page0.size()))
    ThrowUnrecognizedFormat(name);
  if (DecodeHeader(page0, header_) != HeaderCheck::Ok) ThrowUnrecognizedFormat(name);
  // Jet compares the password exactly; a database without one opens with any.
  if (!header_.password.empty() && header_.password != Utf8ToUtf16(password)) ThrowBadPassword();
  file_ = std::make_unique<PageFile>(std::move(source), kJet4PageSize);
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
