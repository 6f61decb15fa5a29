// Re-sorting a database to the General order, as Access's compact does
// when its sort order for new databases is General: the header's sort
// order, every text and memo column's, and every index over a text column
// of every table (system tables included) rebuilt with General keys. Rows
// are not touched.
//
// Crash-safety: each table changes at a durable point of its own (its
// columns and new index trees become the file's state when its definition
// page is written), the header last. Killed in between, the file holds
// some tables re-sorted and the others as they were, each table's labels
// matching its keys; running the re-sort again finishes it.
#pragma once

#include <string>

namespace brenvo::jet {

struct ResortReport {
  long tables = 0;   // tables rebuilt
  long indexes = 0;  // indexes over text columns rebuilt
};

// Throws, with nothing changed, when some text value has no General weight
// (every key is computed before the first table is written), and the
// writer's errors.
ResortReport ResortGeneral(const std::string& path, const std::string& password);

}  // namespace brenvo::jet
