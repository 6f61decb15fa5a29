#include "util/log_file.h"

#include <cstdio>

#include "util/korean.h"

namespace brenvo {

std::string MakeLogFilePath(const std::string& folder, const std::string& userId, std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S_", &tm);
  return folder + "/" + stamp + userId + ".log";
}

bool AppendLineCp949(const std::string& path, const std::string& line) {
  if (path.empty()) return false;
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return false;
  std::string bytes = Utf8ToCp949(line);
  bytes += "\r\n";
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = (std::fclose(f) == 0) && ok;
  return ok;
}

}  // namespace brenvo
