#include "db/odbc/odbc_session.h"

#include <iterator>

#include "util/error.h"

namespace brenvo::odbc {
namespace {

constexpr const char* kAdoSource = "ADODB.Recordset";

}  // namespace

[[noreturn]] void NoCurrentRecord() {
  throw BrenvoError(3021,
                    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
                    "requires a current record.",
                    kAdoSource);
}

[[noreturn]] void NotSupported() {
  throw BrenvoError(3251, "Current Recordset does not support updating. This may be a limitation of the provider, "
                          "or of the selected locktype.",
                    kAdoSource);
}

[[noreturn]] void Closed() {
  throw BrenvoError(3704, "Operation is not allowed when the object is closed.", kAdoSource);
}

[[noreturn]] void BadIndex() {
  throw BrenvoError(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.",
                    kAdoSource);
}

StmtHandle NewStatement(SQLHDBC dbc) {
  StmtHandle s;
  Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, s.out()), SQL_HANDLE_DBC, dbc, "SQLAllocHandle");
  return s;
}

void ExecDirect(SQLHSTMT stmt, const std::string& sql) {
  std::u16string w = Utf8ToUtf16(sql);
  Check(SQLExecDirectW(stmt, W(w), static_cast<SQLINTEGER>(w.size())), SQL_HANDLE_STMT, stmt, "SQLExecDirect");
}

std::vector<std::string> FirstRowTexts(SQLHDBC dbc, const std::string& sql) {
  StmtHandle s = NewStatement(dbc);
  ExecDirect(s.get(), sql);
  std::vector<std::string> out;
  if (!Ok(SQLFetch(s.get()))) return out;
  SQLSMALLINT n = 0;
  SQLNumResultCols(s.get(), &n);
  for (SQLSMALLINT c = 1; c <= n; ++c) {
    std::u16string text;
    SQLWCHAR buf[256];
    SQLLEN len = 0;
    for (;;) {
      const SQLRETURN rc = SQLGetData(s.get(), static_cast<SQLUSMALLINT>(c), SQL_C_WCHAR, buf, sizeof buf, &len);
      if (rc == SQL_NO_DATA || !Ok(rc) || len == SQL_NULL_DATA) break;
      const size_t got = len == SQL_NO_TOTAL || static_cast<size_t>(len) >= sizeof buf
                             ? std::size(buf) - 1
                             : static_cast<size_t>(len) / sizeof(SQLWCHAR);
      text.append(reinterpret_cast<const char16_t*>(buf), got);
      if (rc == SQL_SUCCESS) break;
    }
    out.push_back(Utf16ToUtf8(text));
  }
  return out;
}

SideLink::~SideLink() {
  if (connected) SQLDisconnect(dbc.get());
}

std::unique_ptr<SideLink> Session::TakeSide() {
  std::unique_lock<std::mutex> lock(spareMu);
  spareCv.wait(lock, [this] { return !spare.empty() || connecting == 0; });
  if (!spare.empty()) {
    auto link = std::move(spare.back());
    spare.pop_back();
    return link;
  }
  return NewSide();
}

// Called with spareMu held.
std::unique_ptr<SideLink> Session::NewSide() {
  if (connectionString.empty() || sidesMade >= sideLimit) return nullptr;
  ++sidesMade;
  auto link = std::make_unique<SideLink>();
  if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env.get(), link->dbc.out()))) return nullptr;
  SQLSetConnectAttr(link->dbc.get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN{30}), 0);
  return link;
}

bool SideLink::Open(const std::string& connectionString) {
  if (connected) return true;
  std::u16string w = Utf8ToUtf16(connectionString);
  connected = Ok(SQLDriverConnectW(dbc.get(), nullptr, W(w), static_cast<SQLSMALLINT>(w.size()), nullptr, 0, nullptr,
                                   SQL_DRIVER_NOPROMPT));
  return connected;
}

bool SideLink::Connect(const std::string& connectionString, const std::string& mainId, const std::string& database) {
  // A spare proven for another database (the session's connection may have
  // changed it since) is proven again.
  const std::string wanted = ProofFor(mainId, database);
  if (proven == wanted) return true;
  proven.clear();
  if (!Open(connectionString)) return false;
  // The account sees its own threads only, so seeing the first connection's
  // proves the same server and account.
  try {
    const auto seen = FirstRowTexts(
        dbc.get(), "SELECT DATABASE(), (SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " +
                       std::to_string(std::stoull(mainId)) + ")");
    if (seen.size() == 2 && seen[0] == database && seen[1] == "1") proven = wanted;
  } catch (...) {
  }
  return !proven.empty();
}

void Session::JoinOpeners() {
  std::vector<std::thread> all;
  {
    std::lock_guard<std::mutex> lock(spareMu);
    all.swap(openers);
  }
  for (auto& t : all) t.join();
}

bool Session::HasReadySide(const std::string& mainId, const std::string& database, const std::string& settings) {
  std::lock_guard<std::mutex> lock(spareMu);
  // TakeSide hands out the last one.
  return !spare.empty() && spare.back()->proven == SideLink::ProofFor(mainId, database) && spare.back()->settings == settings &&
         spare.back()->autocommitOff;
}

void Session::ReturnSide(std::unique_ptr<SideLink> link) {
  if (!link) return;
  std::lock_guard<std::mutex> lock(spareMu);
  spare.push_back(std::move(link));
}

std::string QuoteName(const std::string& name) {
  std::string out = "`";
  for (char c : name) {
    if (c == '`') out += '`';
    out += c;
  }
  return out + "`";
}

}  // namespace brenvo::odbc
