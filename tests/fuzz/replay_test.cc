// Replays every input the fuzzer once crashed on (kept in regressions/):
// each must now end in an error or a clean read.
#include <gtest/gtest.h>

#include <filesystem>

#include "db/jet/sql.h"
#include "util/error.h"
#include "jet_read_all.h"
#include "support/test_support.h"

namespace brenvo::test {
namespace {

TEST(JetFuzzRegressions, EveryKeptInputEndsCleanly) {
  std::filesystem::path dir = BRENVO_FUZZ_REGRESSIONS;
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (!e.is_regular_file() || e.path().filename() == "README") continue;
    std::string bytes = ReadFile(e.path());
    std::string name = e.path().filename().string();
    SCOPED_TRACE(name);
    if (name.rfind("sql-", 0) == 0) {
      // Statement-parser findings: parse or a BrenvoError, nothing else.
      try {
        jet::sql::Parse(bytes);
      } catch (const BrenvoError&) {
      }
    } else {
      EXPECT_NO_THROW(ReadAllJet(std::vector<uint8_t>(bytes.begin(), bytes.end()), ""));
    }
    ++n;
  }
  RecordProperty("inputs", n);
}

}  // namespace
}  // namespace brenvo::test
