// Appending to and reading from a CS table through the ODBC record sets,
// against LOAD DATA of the same rows, on the CS test server.
//
//   source RUN/env.sh; build/bin/bench-odbc-append [rows]
//
// The table is sale_d's shape (two-column key, text, three doubles); rows
// default to 400,000, the large data set's sale_d.
#include <mysql.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "db/odbc/myodbc_dsn.h"
#include "db/odbc/odbc_connection.h"
#include "db/odbc/odbc_recordset.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

void Exec(MYSQL* m, const std::string& sql) {
  if (mysql_real_query(m, sql.data(), sql.size()) != 0) {
    std::fprintf(stderr, "%s: %s\n", sql.c_str(), mysql_error(m));
    std::exit(1);
  }
}

struct Row {
  int saleId, seq, prodId;
  std::string name;
  double qty, price, amount;
};

Row MakeRow(int i) {
  Row r;
  r.saleId = i / 4 + 1;
  r.seq = i % 4 + 1;
  r.prodId = i % 400 + 1;
  r.name = "보리차 대용량 EA-" + std::to_string(i % 997);
  r.qty = (i % 50) * 0.33;
  r.price = 1000 + (i % 1000) * 12.5;
  r.amount = r.qty * r.price;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 400000;
  const std::string host = Env("BRENVO_TEST_CS_HOST"), pw = Env("BRENVO_TEST_CS_ROOT_PASSWORD");
  if (host.empty()) {
    std::fprintf(stderr, "start the test servers first (tests/env/up, source env.sh)\n");
    return 2;
  }
  const std::string db = "bench_append_" + std::to_string(getpid());
  MYSQL* m = mysql_init(nullptr);
  unsigned int localInfile = 1;
  mysql_optionsv(m, MYSQL_OPT_LOCAL_INFILE, &localInfile);
  mysql_optionsv(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  if (!mysql_real_connect(m, host.c_str(), "root", pw.c_str(), nullptr, 3306, nullptr, 0)) {
    std::fprintf(stderr, "connect: %s\n", mysql_error(m));
    return 1;
  }
  Exec(m, "CREATE DATABASE " + db);
  Exec(m, "USE " + db);
  Exec(m, "CREATE TABLE sale_d (sale_id INT NOT NULL, seq SMALLINT NOT NULL, prod_id INT NULL,"
          " prod_name VARCHAR(120) NULL, qty DOUBLE NULL, price DOUBLE NULL, amount DOUBLE NULL,"
          " PRIMARY KEY (sale_id, seq)) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4");

  const std::string tsv = "/tmp/" + db + ".tsv";
  {
    std::ofstream f(tsv);
    char buf[64];
    for (int i = 0; i < rows; ++i) {
      Row r = MakeRow(i);
      f << r.saleId << '\t' << r.seq << '\t' << r.prodId << '\t' << r.name;
      for (double d : {r.qty, r.price, r.amount}) {
        std::snprintf(buf, sizeof buf, "\t%.17g", d);
        f << buf;
      }
      f << '\n';
    }
  }
  auto t0 = std::chrono::steady_clock::now();
  Exec(m, "LOAD DATA LOCAL INFILE '" + tsv + "' INTO TABLE sale_d CHARACTER SET utf8mb4");
  const double load = Seconds(t0);
  std::remove(tsv.c_str());
  Exec(m, "TRUNCATE TABLE sale_d");

  std::string cache;
  const std::string driver = brenvo::odbc::GetMyODBCDllPath(cache);
  auto conn = brenvo::odbc::MakeOdbcConnection();
  conn->Open("Driver=" + driver + ";SERVER=" + host + ";UID=root;PWD=" + pw + ";DATABASE=" + db);
  const int batch = std::getenv("BATCH_ROWS") ? std::atoi(std::getenv("BATCH_ROWS")) : 1000;
  t0 = std::chrono::steady_clock::now();
  const std::clock_t c0 = std::clock();
  {
    auto w = conn->OpenTable("sale_d", brenvo::ado::OpenMode::Append);
    w->SetBatchRows(batch);
    for (int i = 0; i < rows; ++i) {
      Row r = MakeRow(i);
      w->AddNew();
      w->SetValue(0, int64_t{r.saleId});
      w->SetValue(1, int64_t{r.seq});
      w->SetValue(2, int64_t{r.prodId});
      w->SetValue(3, r.name);
      w->SetValue(4, r.qty);
      w->SetValue(5, r.price);
      w->SetValue(6, r.amount);
      w->Update();
    }
    if (!w->Flush().empty()) std::fprintf(stderr, "rows refused\n");
    w->Close();
  }
  const double append = Seconds(t0);
  const double appendCpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
  const long rssAfterAppend = PeakRssKb();

  t0 = std::chrono::steady_clock::now();
  long n = 0;
  double sum = 0;
  {
    auto r = conn->OpenTable("sale_d", brenvo::ado::OpenMode::Read);
    for (; !r->Eof(); r->MoveNext()) {
      ++n;
      sum += std::get<double>(r->GetValue(6));
    }
  }
  const double read = Seconds(t0);
  conn->Close();
  Exec(m, "DROP DATABASE " + db);
  mysql_close(m);

  std::printf("rows                 %d\n", rows);
  std::printf("LOAD DATA            %.2f s  (%.0f rows/s)\n", load, rows / load);
  std::printf("ODBC append, batches of %d rows\n", batch);
  std::printf("ODBC append          %.2f s  (%.0f rows/s)  = %.0f %% of LOAD DATA\n", append, rows / append,
              100.0 * load / append);
  std::printf("  of which client CPU %.2f s\n", appendCpu);
  std::printf("ODBC read (sliced)   %.2f s  (%.0f rows/s), %ld rows, checksum %.2f\n", read, n / read, n, sum);
  std::printf("peak RSS             %ld kB after append, %ld kB after read\n", rssAfterAppend, PeakRssKb());
  return 0;
}
