// The writing commands of brenvo-mdb: create, check, import. Each returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace brenvo::mdb {

int RunCreate(const std::string& file, const std::string& schemaFile, const std::string& password);
int RunCheck(const std::string& file, const std::string& password, bool systemTables = false);
// Re-sorts the file to the General order (db/jet/resort.h).
int RunResort(const std::string& file, const std::string& password);
int RunImport(const std::string& file, const std::string& table, const std::string& csv, const std::string& password);

}  // namespace brenvo::mdb
