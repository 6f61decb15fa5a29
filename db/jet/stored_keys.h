// Key segments Access already wrote: for a text value that some index of a
// file holds, the bytes of its segment, learnt from the index entries and the
// rows they name. A segment depends only on the text, the sort order and the
// direction, so a value seen once in a Korean-sorted index can be keyed
// again byte for byte as Access keyed it, whatever characters it holds.
//
// Multi-column keys are cut into segments by their layout: a NULL or Yes/No
// column is its flag byte alone; a number or date column its flag and a
// fixed number of bytes (recomputed and compared, so a misread stops the
// learning of that entry); an ascending text segment runs to its first 0x00
// (no weight byte is 0x00), a descending one to its first 0xFF, then 0x00.
//
// Memory: one entry per distinct text value of each order and direction.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/jet/index_key.h"

namespace brenvo::jet {

class Database;
class Pager;
struct TableDef;

class StoredKeys {
 public:
  // Learns from the indexes of the table that hold a text column in an order
  // other than General, reading pages through pager (roots: the trees'
  // roots by real index where the definition's are out of date). Entries
  // whose key does not split as the row's values say are passed over. A
  // tag already learnt is not learnt again. Throws on a damaged index or row.
  void LearnTable(const Database& db, const Pager& pager, const TableDef& table, const std::string& tag,
                  const std::vector<uint32_t>* roots = nullptr);
  // User tables of the file at path (all when tables is empty).
  void LearnFile(const std::string& path, const std::string& password,
                 const std::vector<std::string>& tables = {});
  bool Learnt(const std::string& tag) const { return learnt_.count(tag) != 0; }

  // Appends the segment (flag byte included) and returns true when one is
  // known for this text.
  bool Find(TextOrder order, bool ascending, std::string_view text, std::vector<uint8_t>& out) const;
  size_t Size() const { return segments_.size(); }
  // Distinct values seen with two different segments (never used).
  size_t Conflicts() const { return conflicts_; }

 private:
  static std::string MapKey(TextOrder order, bool ascending, std::string_view text);
  void Remember(TextOrder order, bool ascending, const std::string& text, const uint8_t* seg, size_t len);
  std::unordered_map<std::string, std::string> segments_;  // empty value: conflicting
  std::set<std::string> learnt_;
  size_t conflicts_ = 0;
};

// ASCII letters lowered: table names as Jet matches them.
std::string LowerAscii(std::string s);

// True when a table has an index over a text column whose order is not
// General.
bool HasNonGeneralTextIndex(const TableDef& table);

}  // namespace brenvo::jet
