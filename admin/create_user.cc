#include "admin/create_user.h"

#include "admin/window_db.h"
#include "db/mysql/cmysql.h"

namespace brenvo::admin {

namespace {

// Well-formed UTF-8 without control characters; length in characters.
std::optional<size_t> SafeLength(const std::string& s) {
  size_t chars = 0;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return std::nullopt;
    if (n == 1 && (c < 0x20 || c == 0x7f)) return std::nullopt;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) return std::nullopt;
    i += n;
    ++chars;
  }
  return chars;
}

}  // namespace

bool SafeToGrant(const std::string& id, const std::string& db) {
  // Over-long names are left to the server: it refuses them with its own
  // message, and quoted they can do no harm on the way.
  return SafeLength(id).value_or(0) > 0 && SafeLength(db).value_or(0) > 0;
}

std::string GrantDatabasePattern(const std::string& db) {
  std::string out;
  for (char c : db) {
    if (c == '_' || c == '%' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

GrantStatements MakeGrantStatements(const std::string& id, const std::string& db,
                                    const std::function<std::string(const std::string&)>& escape) {
  const std::string on =
      "GRANT ALL ON " + mysql::QuoteIdentifier(GrantDatabasePattern(db)) + ".* TO '" + escape(id) + "'";
  return GrantStatements{on + "@'%' IDENTIFIED BY '" + kCsUserPassword + "'",
                         on + "@'localhost' IDENTIFIED BY '" + kCsUserPassword + "'"};
}

void cmdCreateUser_Click(Console& console) {
  Prompter& p = console.prompter();
  if (console.Text(Control::cmbHost) != "localhost") {
    p.Message("localhost만 유저생성이 가능합니다.");
    return;
  }
  const std::string id = console.Text(Control::Text1_0);
  const std::string db = console.Text(Control::Text1_1);
  if (TrimSpaces(id).empty()) {
    p.Message("생성할 ID가 입력되지 않았습니다.");
    console.SetFocus(Control::Text1_0);
    return;
  }
  if (TrimSpaces(db).empty()) {
    p.Message("생성할 DB명이 입력되지 않았습니다.");
    console.SetFocus(Control::Text1_1);
    return;
  }
  // Refused before anything reaches the server.
  if (!SafeToGrant(id, db)) {
    p.Message("ID 또는 DB명에 사용할 수 없는 문자가 있습니다.");
    return;
  }

  auto& conn = WindowDb(console);
  if (conn.DBConnect("localhost", "root", RootPassword(console), "")) {
    auto grants = MakeGrantStatements(id, db, [&conn](const std::string& s) { return conn.instance()->escape_string(s); });
    // A refused grant has shown the server's error; it is the end of it: the
    // user is not reported as created, and the other grant is not sent, so a
    // refusal never leaves an account for one host only.
    bool granted = true;
    for (const std::string* grant : {&grants.anyHost, &grants.localHost}) {
      conn.DBExecute(*grant);
      if (conn.instance()->err_no() != 0) {
        granted = false;
        break;
      }
    }
    if (granted)
      p.Message("유저를 생성하였습니다.");
    else
      p.Message("유저를 생성하지 못했습니다.");
  }
  conn.DBClose();
}

}  // namespace brenvo::admin
