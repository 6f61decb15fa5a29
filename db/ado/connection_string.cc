#include <algorithm>
#include <cctype>

#include "db/ado/recordset.h"
#include "util/error.h"
#include "util/text.h"

namespace brenvo::ado {
namespace {
std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}
}  // namespace

std::optional<std::string> ConnectionStringValue(const std::string& cs, const std::string& key) {
  const std::string want = Lower(key);
  size_t pos = 0;
  while (pos <= cs.size()) {
    size_t end = cs.find(';', pos);
    if (end == std::string::npos) end = cs.size();
    std::string part = cs.substr(pos, end - pos);
    size_t eq = part.find('=');
    if (eq != std::string::npos && Lower(TrimWhitespace(part.substr(0, eq))) == want) return part.substr(eq + 1);
    pos = end + 1;
  }
  return std::nullopt;
}

}  // namespace brenvo::ado

namespace brenvo::ado {

// 3251: ADO's "Operation is not supported for this type of object."
namespace {
[[noreturn]] void NoTransactions(const char* member) {
  throw BrenvoError(3251, "이 연결은 트랜잭션을 지원하지 않습니다.", std::string("Connection::") + member);
}
}  // namespace

void Connection::BeginTrans() { NoTransactions("BeginTrans"); }
void Connection::CommitTrans() { NoTransactions("CommitTrans"); }
void Connection::RollbackTrans() { NoTransactions("RollbackTrans"); }
void Connection::ResortGeneral() {
  throw BrenvoError(3251, "Operation is not supported for this type of object.", "Connection::ResortGeneral");
}

}  // namespace brenvo::ado
