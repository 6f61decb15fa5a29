// Reads everything a Jet file offers, the way the console and brenvo-mdb
// would: catalogue, every table's definition and schema listing, every row
// of every table as CSV, and the console's statements. Used by the fuzzer
// and by the tests that replay damaged files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brenvo::test {

struct ReadAllResult {
  bool ok = false;          // read to the end without an error
  long errorNumber = 0;     // the BrenvoError's number otherwise
  std::string description;
  size_t rows = 0;
};

// Any exception other than BrenvoError propagates (a fault in the reader).
ReadAllResult ReadAllJet(std::vector<uint8_t> bytes, const std::string& password);

}  // namespace brenvo::test
