// The writing commands of brenvo-mdb: check, import (and create, when the
// engine can make new files). Each returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace brenvo::mdb {

int RunCheck(const std::string& file, const std::string& password);
int RunImport(const std::string& file, const std::string& table, const std::string& csv, const std::string& password);

}  // namespace brenvo::mdb
