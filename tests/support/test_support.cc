#include "support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace brenvo::test {

TempDir::TempDir() {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("brenvo-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path FixturesDir() {
  const char* env = std::getenv("BRENVO_FIXTURES");
  if (!env || !*env) return {};
  std::filesystem::path p(env);
  std::error_code ec;
  if (!std::filesystem::exists(p / "README.md", ec)) return {};
  return std::filesystem::canonical(p, ec);
}

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TestEnv(const std::string& name) {
  const char* v = std::getenv(("BRENVO_TEST_" + name).c_str());
  return v ? v : "";
}

std::string Hex(const std::vector<uint8_t>& bytes, const char* sep) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
    if (i > 0) s += sep;
    s += buf;
  }
  return s;
}

std::string ExpectedCsv(const std::string& table) {
  return ReadFile(FixturesDir() / "brenvo" / "expected" / (table + ".csv"));
}

}  // namespace brenvo::test
