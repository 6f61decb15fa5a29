// Appends generated rows to a table of a copy of empty-dbMain.mdb through
// the writer the copy run uses, and prints rows per second and the peak
// resident memory of the process.
//
//   bench-jet-write EMPTY_MDB OUT_MDB sale_d|sale_d_kor|sale_m ROWS
//
// sale_d: the detail lines with their two-column primary key and a Korean
// product name. sale_d_kor: the same in a new file whose sale_d also has a
// non-unique index over the Korean product name. sale_m: the sales with
// their four indexes, one of them the unique text index over the sale number.
// sale_d_replace, sale_d_replace_txn: EMPTY_MDB is a filled file (dbMain-large);
// its sale_d is emptied and given the rows, as the copy run replaces a table,
// without and inside a transaction (the rows commit together at its end).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "db/jet/create.h"
#include "db/jet/writer.h"
#include "util/error.h"

using namespace brenvo;

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: bench-jet-write EMPTY_MDB OUT_MDB sale_d|sale_m ROWS\n", stderr);
    return 2;
  }
  std::string table = argv[3];
  long rows = std::stol(argv[4]);
  bool korean = table == "sale_d_kor";
  bool replace = table.rfind("sale_d_replace", 0) == 0;
  bool txn = table == "sale_d_replace_txn";
  if (replace) table = "sale_d";
  if (korean) {
    table = "sale_d";
    std::filesystem::remove(argv[2]);
  } else {
    std::filesystem::copy_file(argv[1], argv[2], std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(argv[2], std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  const char* names[] = {"무선 마우스 블랙", "기계식 키보드 적축", "A4 복사용지 500매", "㈜한빛 정품 토너", "모니터 받침대"};
  try {
    auto start = std::chrono::steady_clock::now();
    if (korean)
      jet::CreateDatabase(argv[2], "wq3518",
                          jet::ParseSchema("table sale_d\n"
                                           "column sale_id long\ncolumn seq integer\ncolumn prod_id long\n"
                                           "column prod_name text 60\ncolumn qty double\ncolumn price double\n"
                                           "column amount double\n"
                                           "index PrimaryKey primary sale_id seq\nindex prod_name prod_name\n"));
    auto w = jet::JetWriter::Open(argv[2], "wq3518");
    auto& t = w->Table(table);
    if (txn) w->BeginTransaction();
    if (replace) t.DeleteAll();
    std::vector<std::optional<ado::Value>> v(t.Def().columns.size());
    for (long i = 0; i < rows; ++i) {
      std::fill(v.begin(), v.end(), std::nullopt);
      if (table == "sale_d") {
        v[0] = ado::Value(int64_t{i / 4 + 1});
        v[1] = ado::Value(int64_t{i % 4 + 1});
        v[2] = ado::Value(int64_t{i % 400 + 1});
        v[3] = ado::Value(std::string(names[i % 5]));
        v[4] = ado::Value(static_cast<double>(i % 9 + 1));
        v[5] = ado::Value(1250.5 + static_cast<double>(i % 1000));
        v[6] = ado::Value((1250.5 + static_cast<double>(i % 1000)) * static_cast<double>(i % 9 + 1));
      } else {
        v[0] = ado::Value(int64_t{i + 1});
        v[1] = ado::Value("S" + std::to_string(20160509 + i % 3000) + "-" + std::to_string(1000000 + i));
        v[2] = ado::Value(38000.5 + static_cast<double>(i % 3000));
        v[3] = ado::Value(int64_t{i % 500 + 1});
        v[4] = ado::Value(static_cast<double>(i % 100000) * 11.0);
        v[5] = ado::Value(static_cast<double>(i % 100000));
      }
      t.Insert(v);
    }
    if (txn) w->CommitTransaction();
    w->Close();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("%s %ld rows %.2f s %.0f rows/s peak %ld KB file %ju bytes\n", table.c_str(), rows, secs,
                static_cast<double>(rows) / secs, ru.ru_maxrss,
                static_cast<uintmax_t>(std::filesystem::file_size(argv[2])));
  } catch (...) {
    ErrorInfo e = DescribeCurrentException();
    std::fprintf(stderr, "bench-jet-write: Error %ld (%s)\n", e.number, e.description.c_str());
    return 1;
  }
  return 0;
}
