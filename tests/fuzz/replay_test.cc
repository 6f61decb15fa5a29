// Replays every input the fuzzer once crashed on (kept in regressions/):
// each must now end in an error or a clean read.
#include <gtest/gtest.h>

#include <filesystem>

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
    SCOPED_TRACE(e.path().filename().string());
    EXPECT_NO_THROW(ReadAllJet(std::vector<uint8_t>(bytes.begin(), bytes.end()), ""));
    ++n;
  }
  RecordProperty("inputs", n);
}

}  // namespace
}  // namespace brenvo::test
