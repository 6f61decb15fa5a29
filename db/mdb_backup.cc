#include "db/mdb_backup.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#include "db/jet/jet_connection.h"
#include "util/error.h"

namespace brenvo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSource = "BackupMdb";
constexpr long kErrBackup = -2147467259;  // E_FAIL, as the engine's write errors

std::string Stem(const fs::path& mdb) {
  std::string name = mdb.filename().string();
  if (name.size() > 4) {
    std::string ext = name.substr(name.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == ".mdb") name.resize(name.size() - 4);
  }
  return name;
}

std::string Stamp(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d_%H%M%S", &tm);
  return buf;
}

// stem + "_" + yyyymmdd_hhmmss + suffix, and nothing else: another file's
// copies ("dbMain_old_...", "empty-dbMain_...") never match.
bool IsCopyOf(const std::string& name, const std::string& stem, const std::string& suffix) {
  if (name.size() != stem.size() + 1 + 15 + suffix.size()) return false;
  if (name.compare(0, stem.size(), stem) != 0 || name[stem.size()] != '_') return false;
  if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
  for (size_t i = 0; i < 15; ++i) {
    char c = name[stem.size() + 1 + i];
    if (i == 8 ? c != '_' : !std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

[[noreturn]] void Fail(const std::string& what, const std::string& reason) {
  throw BrenvoError(kErrBackup,
                    "백업 파일을 만들지 못했습니다: " + what + " (" + reason +
                        "). 디스크 공간과 폴더를 확인하세요. 대상 파일은 변경하지 않았습니다.",
                    kSource);
}

void SyncFolder(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string BackupMdb(ado::Connection& target, const std::string& mdbPath) {
  fs::path mdb(mdbPath);
  fs::path dir = mdb.parent_path() / "backup";
  std::string stem = Stem(mdb);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) Fail(dir.string(), ec.message());

  // A name no earlier copy has (two copies within one second take the next).
  std::time_t now = std::time(nullptr);
  fs::path final;
  for (;; ++now) {
    final = dir / (stem + "_" + Stamp(now) + ".mdb");
    if (!fs::exists(final, ec)) break;
  }
  // Written under a temporary name, renamed once complete and synced: a copy
  // cut short by a crash is never taken for a backup.
  fs::path part = final;
  part += ".part";
  int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) Fail(part.string(), std::strerror(errno));
  try {
    jet::CopyOpenFile(target, fd);
    if (::fsync(fd) != 0) throw BrenvoError(kErrBackup, std::strerror(errno), kSource);
    if (::close(fd) != 0) {
      fd = -1;
      throw BrenvoError(kErrBackup, std::strerror(errno), kSource);
    }
    fd = -1;
    fs::rename(part, final);
  } catch (const std::exception& e) {
    if (fd >= 0) ::close(fd);
    fs::remove(part, ec);
    fs::remove(final, ec);
    const auto* be = dynamic_cast<const BrenvoError*>(&e);
    Fail(final.string(), be ? be->description() : e.what());
  }
  SyncFolder(dir);

  // The newest kKeptBackups copies of this file stay; the names sort by time.
  std::vector<std::string> copies;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    std::string name = entry.path().filename().string();
    if (IsCopyOf(name, stem, ".mdb")) copies.push_back(name);
    else if (IsCopyOf(name, stem, ".mdb.part")) fs::remove(entry.path(), ec);  // left by a crash
  }
  std::sort(copies.begin(), copies.end());
  if (copies.size() > static_cast<size_t>(kKeptBackups))
    for (size_t i = 0; i + kKeptBackups < copies.size(); ++i) fs::remove(dir / copies[i], ec);
  return final.string();
}

}  // namespace brenvo
