#include "db/mysql/direct_db.h"

#include <algorithm>

#include "util/error.h"

namespace brenvo::mysql {

DirectDb::DirectDb(Prompter& prompter, std::function<void(const std::string&)> appendLogFile)
    : prompter_(prompter), appendLogFile_(std::move(appendLogFile)) {}

DirectDb::~DirectDb() = default;

bool DirectDb::DBConnect(const std::string& host, const std::string& user, const std::string& password,
                         const std::string& database) {
  try {
    db_.reset();
    db_ = std::make_unique<cMySQL>(prompter_);
    return db_->real_connect(host, user, password, database, 3306, {}, 0, false);
  } catch (...) {
    if (appendLogFile_) appendLogFile_(TrapText(DescribeCurrentException(), "DBConnect", "Form FrmMain"));
    return false;
  }
}

void DirectDb::DBClose() {
  if (!db_) return;
  db_->free_result();
  db_.reset();
}

cMySQL& DirectDb::Require() {
  if (!db_) throw BrenvoError(91, "Object variable or With block variable not set", "FrmMain");
  return *db_;
}

int32_t DirectDb::DBSelect(std::unique_ptr<MemoryRecordset>& rs, const std::string& statement) {
  cMySQL& db = Require();
  rs = db.query(statement);
  const int32_t n = db.affected_rows();
  if (!rs) return db.err_no() != 0 ? std::min<int32_t>(n, 0) : n;
  if (!rs->Eof()) rs->MoveFirst();
  return n;
}

int32_t DirectDb::DBExecute(const std::string& statement) {
  cMySQL& db = Require();
  auto rs = db.query(statement);
  int32_t n = db.affected_rows();
  if (n < 0) n = 0;
  ado::CloseADO(rs);
  return n;
}

}  // namespace brenvo::mysql
