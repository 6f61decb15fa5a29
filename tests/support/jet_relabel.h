// Access files in another sort order for tests: a copy relabelled as a file
// of another language's Access would carry it.
#pragma once

#include <cstdint>
#include <string>

namespace brenvo::test {

// Gives the file another sort order as a file of that language would carry
// it: the header's LCID (0x6E of the decoded header) and that of every text
// and memo column of every user table. The keys stay as they were.
void RelabelSortOrder(const std::string& path, const std::string& password, uint16_t lcid);

}  // namespace brenvo::test
