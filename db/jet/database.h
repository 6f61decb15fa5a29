// An open Jet database (Jet 4, or Jet 3 for reading): the page file, the
// decoded header, the catalogue. Opening checks, in this order, that the
// file exists, that no writer holds it, that it is a Jet 3 or Jet 4 file and
// that the password matches; each failure is the error the Jet provider
// gives for it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/jet/catalog.h"
#include "db/jet/header.h"
#include "db/jet/table_def.h"

namespace brenvo::jet {

class Database {
 public:
  // Opens a file for reading. password: the connection string's database
  // password (empty when none was given).
  static std::unique_ptr<Database> Open(const std::string& path, const std::string& password);
  // Over any byte source (the fuzzer's buffer); no lock is taken.
  static std::unique_ptr<Database> OpenSource(std::unique_ptr<ByteSource> source, const std::string& name,
                                              const std::string& password);

  const PageFile& File() const { return *file_; }
  const DatabaseHeader& Header() const { return header_; }
  const std::vector<CatalogEntry>& Catalog() const { return catalog_; }
  // User tables in catalogue order.
  std::vector<std::string> UserTables() const;
  // The definition of a table by name (case-insensitive), system tables
  // included; throws the provider's unknown-table error.
  const TableDef& Table(const std::string& name) const;

 private:
  Database() = default;
  void Load(std::unique_ptr<ByteSource> source, const std::string& name, const std::string& password);
  std::unique_ptr<PageFile> file_;
  DatabaseHeader header_;
  std::vector<CatalogEntry> catalog_;
  mutable std::vector<std::unique_ptr<TableDef>> tables_;
};

}  // namespace brenvo::jet
