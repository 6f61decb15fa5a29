// The copy run's sort-order pre-flight on a large file: dbMain-large as the
// source, a copy of it relabelled Korean (holding the same rows) as the
// target. Prints the pre-flight's time (stored keys gathered from the
// target's rows, every indexed text value of the source read and asked)
// beside the time to read every table of the source once, the copy's own
// reading.
//
//   bench-sort-preflight SOURCE.mdb WORK_DIR
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "db/ado/recordset.h"
#include "db/jet/index_key.h"
#include "support/jet_relabel.h"
#include "transfer/catalogue.h"
#include "transfer/sort_preflight.h"

using namespace brenvo;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kPassword = "wq3518";

std::unique_ptr<ado::Connection> Open(const std::string& path) {
  std::string cs =
      "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=" + kPassword;
  auto conn = ado::CreateConnection(cs);
  conn->Open(cs);
  return conn;
}

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench-sort-preflight SOURCE.mdb WORK_DIR\n");
    return 2;
  }
  std::string source = argv[1];
  std::filesystem::path target = std::filesystem::path(argv[2]) / "korean-target.mdb";
  std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
  test::RelabelSortOrder(target.string(), kPassword, jet::kSortKorean);

  TableCatalogue catalogue;
  catalogue.Build();
  catalogue.MarkAll(true);

  auto src = Open(source);
  auto t0 = Clock::now();
  long long rows = 0;
  for (const auto& e : catalogue.entries()) {
    auto rs = src->OpenTable(e.table, ado::OpenMode::Read);
    for (; !rs->Eof(); rs->MoveNext()) {
      for (int j = 0; j < rs->FieldCount(); ++j) (void)rs->GetValue(j);
      ++rows;
    }
  }
  double readAll = Since(t0);

  auto dst = Open(target.string());
  t0 = Clock::now();
  SortKeyCheck check = CheckSortKeys(catalogue, *src, *dst);
  double preflight = Since(t0);
  long long gaps = 0;
  for (const auto& g : check.gaps) gaps += g.values;
  std::printf("read every source table: %lld rows, %.2f s\n", rows, readAll);
  std::printf("pre-flight: %ld tables, %lld values read, %lld distinct asked, %lld without a key, %.2f s\n",
              check.tables, check.valuesRead, check.distinctChecked, gaps, preflight);
  std::filesystem::remove(target);
  return 0;
}
