// The SQL the console sends to Access, parsed for real: a tokenizer
// (identifiers bare or in [brackets], 'strings' and "strings" with doubled
// quotes, numbers, operators; keywords in any case) and a recursive-descent
// parser for
//
//   SELECT item, ... FROM table [WHERE condition]
//   DELETE [*] FROM table [WHERE condition]
//
// where an item is *, a column, an expression, or an aggregate (COUNT(*),
// COUNT(x), MAX(x), MIN(x)), optionally "AS name"; expressions have
// literals, columns, the functions LENB, LEN and StrConv, unary minus, NOT,
// comparisons (= <> < <= > >=), AND and OR. Anything else is a syntax error
// with the provider's number.
#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "db/ado/value.h"

namespace brenvo::jet::sql {

struct Expr {
  enum class Kind { Literal, Column, Call, Not, Negate, Binary };
  Kind kind = Kind::Literal;
  ado::Value literal;
  std::string name;  // column name, function name (upper case) or operator
  std::vector<std::unique_ptr<Expr>> args;
  bool countStar = false;  // COUNT(*)
};
using ExprPtr = std::unique_ptr<Expr>;

struct SelectItem {
  ExprPtr expr;  // null for *
  std::string alias;
};

struct SelectStatement {
  std::vector<SelectItem> items;
  std::string table;
  ExprPtr where;
};

struct DeleteStatement {
  std::string table;
  ExprPtr where;
};

using Statement = std::variant<SelectStatement, DeleteStatement>;

// Throws BrenvoError (syntax error number) on anything outside the grammar.
Statement Parse(const std::string& text);

bool IsAggregate(const std::string& upperName);
// True when the expression contains an aggregate call.
bool HasAggregate(const Expr& e);

}  // namespace brenvo::jet::sql
