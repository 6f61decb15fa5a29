// The main window's direct MySQL connection: DBConnect, DBClose, DBSelect
// and DBExecute over the window's one cMySQL instance. The window (or a test)
// owns one DirectDb and hands it its prompter and its log-file writer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "db/mysql/cmysql.h"

namespace brenvo::mysql {

class DirectDb {
 public:
  // appendLogFile writes one line to the window's work-log file.
  DirectDb(Prompter& prompter, std::function<void(const std::string&)> appendLogFile);
  ~DirectDb();

  // A fresh instance replaces the old one (which is closed). Never throws: a
  // raised error goes to the log file as the trap line, and the result is false.
  bool DBConnect(const std::string& host, const std::string& user, const std::string& password,
                 const std::string& database);
  // Harmless without an instance, and twice in a row.
  void DBClose();
  // rs: the statement's rows standing on the first row, or nullptr. The
  // result is affected_rows (for a SELECT the number of rows); after a
  // failed statement it is 0 or less.
  int32_t DBSelect(std::unique_ptr<MemoryRecordset>& rs, const std::string& statement);
  // The rows changed (a negative count reads 0); any row set is closed.
  int32_t DBExecute(const std::string& statement);

  // The window's instance, or nullptr between DBClose and DBConnect.
  cMySQL* instance() { return db_.get(); }

 private:
  cMySQL& Require();

  Prompter& prompter_;
  std::function<void(const std::string&)> appendLogFile_;
  std::unique_ptr<cMySQL> db_;
};

}  // namespace brenvo::mysql
