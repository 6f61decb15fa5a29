// libFuzzer entry: any byte string as a Jet file. The reader must end with
// a BrenvoError or success; a crash, a sanitizer report, a hang or a foreign
// exception is a finding.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet_read_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  brenvo::test::ReadAllJet(std::vector<uint8_t>(data, data + size), "");
  return 0;
}
