#include "db/jet/sql.h"

#include <cctype>
#include <cstdlib>

#include "db/jet/jet_errors.h"

namespace brenvo::jet::sql {
namespace {

enum class Tok { End, Ident, String, Number, Symbol };

struct Token {
  Tok kind = Tok::End;
  std::string text;  // identifiers as written, symbols, string contents
  size_t pos = 0;
};

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::vector<Token> Tokenize(const std::string& s) {
  std::vector<Token> out;
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (std::isspace(c)) {
      ++i;
      continue;
    }
    Token t;
    t.pos = i;
    if (c == '[') {
      size_t end = s.find(']', i + 1);
      if (end == std::string::npos) ThrowSyntax("Invalid bracketing of name '" + s.substr(i) + "'.");
      t.kind = Tok::Ident;
      t.text = s.substr(i + 1, end - i - 1);
      i = end + 1;
    } else if (c == '\'' || c == '"') {
      char q = static_cast<char>(c);
      ++i;
      for (;;) {
        if (i >= s.size()) ThrowSyntax("Syntax error in string in query expression '" + s.substr(t.pos) + "'.");
        if (s[i] == q) {
          if (i + 1 < s.size() && s[i + 1] == q) {
            t.text.push_back(q);
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        t.text.push_back(s[i++]);
      }
      t.kind = Tok::String;
    } else if (std::isdigit(c) || (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      size_t j = i;
      while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '.')) ++j;
      t.kind = Tok::Number;
      t.text = s.substr(i, j - i);
      i = j;
    } else if (std::isalpha(c) || c == '_' || c >= 0x80) {
      size_t j = i;
      while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_' ||
                              static_cast<unsigned char>(s[j]) >= 0x80))
        ++j;
      t.kind = Tok::Ident;
      t.text = s.substr(i, j - i);
      i = j;
    } else {
      static const char* two[] = {"<>", "<=", ">=", "!="};
      t.kind = Tok::Symbol;
      for (const char* op : two)
        if (s.compare(i, 2, op) == 0) t.text = op;
      if (t.text.empty()) {
        if (std::string("(),*=<>-;").find(static_cast<char>(c)) == std::string::npos)
          ThrowSyntax("Syntax error (invalid character) in query expression '" + s.substr(i) + "'.");
        t.text = std::string(1, static_cast<char>(c));
      }
      i += t.text.size();
    }
    out.push_back(std::move(t));
  }
  Token end;
  end.pos = s.size();
  out.push_back(end);
  return out;
}

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text), toks_(Tokenize(text)) {}

  Statement ParseStatement() {
    if (IsKeyword("SELECT")) {
      ++pos_;
      Statement st = ParseSelect();
      Finish();
      return st;
    }
    if (IsKeyword("DELETE")) {
      ++pos_;
      DeleteStatement d;
      if (IsSymbol("*")) ++pos_;
      ExpectKeyword("FROM", "Syntax error in FROM clause.");
      d.table = ExpectTableName();
      if (IsKeyword("WHERE")) {
        ++pos_;
        d.where = ParseOr();
      }
      Finish();
      return d;
    }
    ThrowSyntax("Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'.");
  }

 private:
  const Token& Cur() const { return toks_[pos_]; }
  bool IsKeyword(const char* kw) const { return Cur().kind == Tok::Ident && Upper(Cur().text) == kw && !Bracketed(); }
  bool Bracketed() const { return Cur().pos < text_.size() && text_[Cur().pos] == '['; }
  bool IsSymbol(const char* s) const { return Cur().kind == Tok::Symbol && Cur().text == s; }
  void ExpectSymbol(const char* s, const std::string& err) {
    if (!IsSymbol(s)) ThrowSyntax(err);
    ++pos_;
  }
  void ExpectKeyword(const char* kw, const std::string& err) {
    if (!IsKeyword(kw)) ThrowSyntax(err);
    ++pos_;
  }
  std::string Rest() const { return text_.substr(std::min(Cur().pos, text_.size())); }
  void Finish() {
    if (IsSymbol(";")) ++pos_;
    if (Cur().kind != Tok::End) ThrowSyntax("Characters found after end of SQL statement.");
  }
  static bool Reserved(const std::string& upper) {
    static const char* words[] = {"SELECT", "FROM", "WHERE", "AND", "OR", "NOT", "AS", "DELETE", "ORDER", "GROUP"};
    for (const char* w : words)
      if (upper == w) return true;
    return false;
  }
  std::string ExpectTableName() {
    if (Cur().kind != Tok::Ident || (!Bracketed() && Reserved(Upper(Cur().text))))
      ThrowSyntax("Syntax error in FROM clause.");
    return toks_[pos_++].text;
  }

  Statement ParseSelect() {
    SelectStatement s;
    for (;;) {
      SelectItem item;
      if (IsSymbol("*")) {
        ++pos_;
      } else {
        item.expr = ParseOr();
        if (IsKeyword("AS")) {
          ++pos_;
          if (Cur().kind != Tok::Ident) ThrowSyntax("Syntax error in query expression '" + Rest() + "'.");
          item.alias = toks_[pos_++].text;
        }
      }
      s.items.push_back(std::move(item));
      if (!IsSymbol(",")) break;
      ++pos_;
    }
    if (!IsKeyword("FROM"))
      ThrowSyntax("The SELECT statement includes a reserved word or an argument name that is misspelled or missing, "
                  "or the punctuation is incorrect.");
    ++pos_;
    s.table = ExpectTableName();
    if (IsKeyword("WHERE")) {
      ++pos_;
      s.where = ParseOr();
    }
    return s;
  }

  ExprPtr Binary(const std::string& op, ExprPtr a, ExprPtr b) {
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Binary;
    e->name = op;
    e->args.push_back(std::move(a));
    e->args.push_back(std::move(b));
    return e;
  }

  ExprPtr ParseOr() {
    // Deep nesting is refused before it can exhaust the stack.
    struct Depth {
      int& d;
      explicit Depth(int& x) : d(x) {
        if (++d > 100) ThrowSyntax("Query is too complex.");
      }
      ~Depth() { --d; }
    } guard(depth_);
    ExprPtr left = ParseAnd();
    while (IsKeyword("OR")) {
      ++pos_;
      left = Binary("OR", std::move(left), ParseAnd());
    }
    return left;
  }
  ExprPtr ParseAnd() {
    ExprPtr left = ParseNot();
    while (IsKeyword("AND")) {
      ++pos_;
      left = Binary("AND", std::move(left), ParseNot());
    }
    return left;
  }
  ExprPtr ParseNot() {
    if (IsKeyword("NOT")) {
      if (++negations_ > 100) ThrowSyntax("Query is too complex.");
      ++pos_;
      auto e = std::make_unique<Expr>();
      e->kind = Expr::Kind::Not;
      e->args.push_back(ParseNot());
      return e;
    }
    return ParseComparison();
  }
  ExprPtr ParseComparison() {
    ExprPtr left = ParseUnary();
    static const char* ops[] = {"=", "<>", "!=", "<", "<=", ">", ">="};
    for (const char* op : ops) {
      if (IsSymbol(op)) {
        ++pos_;
        std::string o = op;
        if (o == "!=") o = "<>";
        return Binary(o, std::move(left), ParseUnary());
      }
    }
    return left;
  }
  ExprPtr ParseUnary() {
    if (IsSymbol("-")) {
      if (++negations_ > 100) ThrowSyntax("Query is too complex.");
      ++pos_;
      auto e = std::make_unique<Expr>();
      e->kind = Expr::Kind::Negate;
      e->args.push_back(ParseUnary());
      return e;
    }
    return ParsePrimary();
  }
  ExprPtr ParsePrimary() {
    const Token& t = Cur();
    auto e = std::make_unique<Expr>();
    if (t.kind == Tok::Number) {
      ++pos_;
      e->kind = Expr::Kind::Literal;
      if (t.text.find('.') == std::string::npos && t.text.size() < 19) {
        e->literal = static_cast<int64_t>(std::strtoll(t.text.c_str(), nullptr, 10));
      } else {
        char* end = nullptr;
        double d = std::strtod(t.text.c_str(), &end);
        if (!end || *end) ThrowSyntax("Syntax error in number in query expression '" + t.text + "'.");
        e->literal = d;
      }
      return e;
    }
    if (t.kind == Tok::String) {
      ++pos_;
      e->kind = Expr::Kind::Literal;
      e->literal = t.text;
      return e;
    }
    if (IsSymbol("(")) {
      ++pos_;
      ExprPtr inner = ParseOr();
      ExpectSymbol(")", "Missing ), ], or Item in query expression '" + text_ + "'.");
      return inner;
    }
    if (t.kind == Tok::Ident) {
      bool bracketed = Bracketed();
      std::string upper = Upper(t.text);
      if (!bracketed && Reserved(upper))
        ThrowSyntax("Syntax error (missing operator) in query expression '" + Rest() + "'.");
      ++pos_;
      if (!bracketed && IsSymbol("(")) {
        ++pos_;
        e->kind = Expr::Kind::Call;
        e->name = upper;
        if (upper == "COUNT" && IsSymbol("*")) {
          ++pos_;
          e->countStar = true;
        } else if (!IsSymbol(")")) {
          for (;;) {
            e->args.push_back(ParseOr());
            if (!IsSymbol(",")) break;
            ++pos_;
          }
        }
        ExpectSymbol(")", "Missing ), ], or Item in query expression '" + text_ + "'.");
        return e;
      }
      e->kind = Expr::Kind::Column;
      e->name = t.text;
      return e;
    }
    ThrowSyntax("Syntax error (missing operator) in query expression '" + Rest() + "'.");
  }

  const std::string& text_;
  std::vector<Token> toks_;
  size_t pos_ = 0;
  int depth_ = 0;
  int negations_ = 0;
};

}  // namespace

Statement Parse(const std::string& text) { return Parser(text).ParseStatement(); }

bool IsAggregate(const std::string& upperName) {
  return upperName == "COUNT" || upperName == "MAX" || upperName == "MIN";
}

bool HasAggregate(const Expr& e) {
  if (e.kind == Expr::Kind::Call && IsAggregate(e.name)) return true;
  for (const auto& a : e.args)
    if (HasAggregate(*a)) return true;
  return false;
}

}  // namespace brenvo::jet::sql
