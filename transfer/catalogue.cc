#include "transfer/catalogue.h"

namespace brenvo {

const std::vector<std::string>& TableCatalogue::TableNames() {
  static const std::vector<std::string> names = {
      "dbversion", "options",  "office",   "local_user", "customer",   "pclass",     "product_m",
      "product_d", "app_menu", "priv_menu", "accounts",  "cashbook",   "schedules",  "estimate_m",
      "estimate_d", "sale_m",  "sale_d",   "receive",    "taxlist_m",  "taxlist_d",
  };
  return names;
}

void TableCatalogue::Build() {
  entries_.clear();
  for (const auto& n : TableNames()) entries_.push_back({n, false, 0});
  current_ = -1;
}

void TableCatalogue::MarkAll(bool marked) {
  for (auto& e : entries_) e.marked = marked;
}

void TableCatalogue::UnmarkAbove(int current) {
  for (int i = 0; i < current && i < Count(); ++i) entries_[i].marked = false;
}

void TableCatalogue::UnmarkBelow(int current) {
  for (int i = current + 1; i < Count(); ++i) entries_[i].marked = false;
}

int TableCatalogue::MarkedCount() const {
  int n = 0;
  for (const auto& e : entries_) n += e.marked ? 1 : 0;
  return n;
}

int TableCatalogue::IndexOf(const std::string& table) const {
  for (int i = 0; i < Count(); ++i)
    if (entries_[i].table == table) return i;
  return -1;
}

}  // namespace brenvo
