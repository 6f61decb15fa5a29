// The writing commands of brenvo-mdb: create, check, import. Each returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace brenvo::mdb {

int RunCreate(const std::string& file, const std::string& schemaFile, const std::string& password);
int RunCheck(const std::string& file, const std::string& password);
int RunImport(const std::string& file, const std::string& table, const std::string& csv, const std::string& password);

}  // namespace brenvo::mdb
