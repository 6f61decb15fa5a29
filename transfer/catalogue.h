// The host application's tables that the console moves, in their fixed copy
// order, each with its check mark and the row count the last estimate found.
// The window shows it; the estimate, the field check and the copy run walk it
// in order and act on the marked entries only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brenvo {

struct CatalogueEntry {
  std::string table;
  bool marked = false;
  int32_t expectedRows = 0;  // the last estimate's count: 0 an empty source, kUnknownRowCount not read
};

class TableCatalogue {
 public:
  // The twenty tables in copy order.
  static const std::vector<std::string>& TableNames();

  // InitTableList's data part: every entry unmarked, counts 0, no current entry.
  void Build();

  int Count() const { return static_cast<int>(entries_.size()); }
  CatalogueEntry& at(int i) { return entries_.at(i); }
  const CatalogueEntry& at(int i) const { return entries_.at(i); }
  const std::vector<CatalogueEntry>& entries() const { return entries_; }

  void MarkAll(bool marked);
  // "↑(x)": unmark 0..current-1; "↓(x)": unmark current+1..last. current -1 = none.
  void UnmarkAbove(int current);
  void UnmarkBelow(int current);

  int MarkedCount() const;
  // Position of table by name, -1 when it is not in the catalogue.
  int IndexOf(const std::string& table) const;

  int current() const { return current_; }
  void setCurrent(int i) { current_ = i; }

 private:
  std::vector<CatalogueEntry> entries_;
  int current_ = -1;
};

}  // namespace brenvo
