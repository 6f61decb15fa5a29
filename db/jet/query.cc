#include "db/jet/query.h"

#include <cmath>

#include "db/jet/column_value.h"
#include "util/korean.h"

namespace brenvo::jet {
namespace {

using sql::Expr;

std::optional<double> AsNumber(const ado::Value& v) {
  if (auto p = std::get_if<int64_t>(&v)) return static_cast<double>(*p);
  if (auto p = std::get_if<double>(&v)) return *p;
  if (auto p = std::get_if<float>(&v)) return *p;
  if (auto p = std::get_if<bool>(&v)) return *p ? -1.0 : 0.0;  // Jet's True is -1
  if (auto p = std::get_if<ado::Currency>(&v)) return static_cast<double>(p->scaled) / 10000.0;
  if (auto p = std::get_if<ado::DateTime>(&v)) return ado::OleFromDateTime(*p);
  if (auto p = std::get_if<ado::Decimal>(&v)) return std::strtod(p->text.c_str(), nullptr);
  return std::nullopt;
}

int Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

size_t Utf16Length(const std::string& s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if ((c & 0xC0) != 0x80) n += (c >= 0xF0) ? 2 : 1;
  }
  return n;
}

std::string ToText(const ado::Value& v) {
  if (auto p = std::get_if<std::string>(&v)) return *p;
  if (auto p = std::get_if<int64_t>(&v)) return std::to_string(*p);
  if (auto n = AsNumber(v)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", *n);
    return buf;
  }
  ThrowTypeMismatch();
}

}  // namespace

bool IsTrue(const ado::Value& v) {
  if (ado::IsNull(v)) return false;
  auto n = AsNumber(v);
  if (!n) ThrowTypeMismatch();
  return *n != 0;
}

int CompareValues(const ado::Value& a, const ado::Value& b) {
  auto sa = std::get_if<std::string>(&a);
  auto sb = std::get_if<std::string>(&b);
  if (sa && sb) {
    size_t n = std::min(sa->size(), sb->size());
    for (size_t i = 0; i < n; ++i) {
      int x = Fold(static_cast<unsigned char>((*sa)[i])), y = Fold(static_cast<unsigned char>((*sb)[i]));
      if (x != y) return x < y ? -1 : 1;
    }
    return sa->size() == sb->size() ? 0 : (sa->size() < sb->size() ? -1 : 1);
  }
  auto ba = std::get_if<ado::Bytes>(&a);
  auto bb = std::get_if<ado::Bytes>(&b);
  if (ba && bb) return *ba < *bb ? -1 : (*ba == *bb ? 0 : 1);
  auto na = AsNumber(a), nb = AsNumber(b);
  if (!na || !nb) ThrowTypeMismatch();
  return *na < *nb ? -1 : (*na == *nb ? 0 : 1);
}

Query::Query(std::shared_ptr<const Database> db, sql::SelectStatement statement)
    : db_(std::move(db)), st_(std::move(statement)) {
  table_ = &db_->Table(st_.table);
  int exprNo = 1000;
  bool plain = false;
  for (const auto& item : st_.items) {
    if (!item.expr) {
      plain = true;
      for (const auto& c : table_->columns) {
        outputs_.push_back({&c, nullptr});
        fields_.push_back({c.name, AdoType(c), AdoDefinedSize(c), c.precision, c.scale, true});
      }
      continue;
    }
    Bind(*item.expr);
    bool agg = sql::HasAggregate(*item.expr);
    if (agg && !(item.expr->kind == Expr::Kind::Call && sql::IsAggregate(item.expr->name)))
      ThrowSyntax("Only a whole aggregate function may stand in the select list.");
    (agg ? aggregate_ : plain) = true;
    ado::FieldInfo f;
    if (item.expr->kind == Expr::Kind::Column) {
      const ColumnDef* c = table_->FindColumn(item.expr->name);
      outputs_.push_back({c, nullptr});
      f = {c->name, AdoType(*c), AdoDefinedSize(*c), c->precision, c->scale, true};
    } else {
      outputs_.push_back({nullptr, item.expr.get()});
      f.name = "Expr" + std::to_string(exprNo++);
      f.type = TypeOf(*item.expr);
      f.definedSize = f.type == ado::adInteger ? 4 : 0;
    }
    if (!item.alias.empty()) f.name = item.alias;
    fields_.push_back(f);
  }
  if (st_.where) {
    Bind(*st_.where);
    if (sql::HasAggregate(*st_.where)) ThrowSyntax("Cannot have aggregate function in WHERE clause (" + st_.table + ").");
  }
  if (aggregate_ && plain)
    ThrowSyntax("You tried to execute a query that does not include the specified expression as part of an "
                "aggregate function.");
  Rewind();
}

Query::~Query() = default;

void Query::Bind(const Expr& e) {
  if (e.kind == Expr::Kind::Column && !table_->FindColumn(e.name)) ThrowNoValue();
  if (e.kind == Expr::Kind::Call) {
    static const char* known[] = {"COUNT", "MAX", "MIN", "LENB", "LEN", "STRCONV"};
    bool ok = false;
    for (const char* k : known) ok = ok || e.name == k;
    if (!ok) ThrowSyntax("Undefined function '" + e.name + "' in expression.");
    size_t want = e.name == "STRCONV" ? 2 : (e.countStar ? 0 : 1);
    if (e.args.size() != want) ThrowSyntax("Wrong number of arguments used with function in query expression '" + e.name + "'.");
    if (sql::IsAggregate(e.name))
      for (const auto& a : e.args)
        if (sql::HasAggregate(*a)) ThrowSyntax("Cannot have aggregate function in expression (" + e.name + ").");
  }
  for (const auto& a : e.args) Bind(*a);
}

ado::DataType Query::TypeOf(const Expr& e) const {
  switch (e.kind) {
    case Expr::Kind::Literal:
      if (std::holds_alternative<std::string>(e.literal)) return ado::adVarWChar;
      if (std::holds_alternative<double>(e.literal)) return ado::adDouble;
      return ado::adInteger;
    case Expr::Kind::Column:
      return AdoType(*table_->FindColumn(e.name));
    case Expr::Kind::Call:
      if (e.name == "MAX" || e.name == "MIN") return TypeOf(*e.args[0]);
      if (e.name == "STRCONV") return ado::adVarBinary;
      return ado::adInteger;
    case Expr::Kind::Negate:
      return TypeOf(*e.args[0]);
    default:
      return ado::adBoolean;
  }
}

void Query::Rewind() {
  aggregateDone_ = false;
  if (aggregate_) {
    scan_.reset();
    return;
  }
  scan_ = std::make_unique<TableScan>(db_->File(), *table_);
}

ado::Value Query::Eval(const Expr& e, const RowReader* row) {
  switch (e.kind) {
    case Expr::Kind::Literal:
      return e.literal;
    case Expr::Kind::Column:
      if (!row) ThrowSyntax("Column reference outside a row.");
      return DecodeValue(db_->File(), *row, *table_->FindColumn(e.name), scratch_);
    case Expr::Kind::Not: {
      ado::Value v = Eval(*e.args[0], row);
      if (ado::IsNull(v)) return v;
      return !IsTrue(v);
    }
    case Expr::Kind::Negate: {
      ado::Value v = Eval(*e.args[0], row);
      if (ado::IsNull(v)) return v;
      if (auto p = std::get_if<int64_t>(&v)) return -*p;
      auto n = AsNumber(v);
      if (!n) ThrowTypeMismatch();
      return -*n;
    }
    case Expr::Kind::Binary: {
      ado::Value a = Eval(*e.args[0], row);
      if (e.name == "AND" || e.name == "OR") {
        ado::Value b = Eval(*e.args[1], row);
        bool isAnd = e.name == "AND";
        // Three-valued logic: a decided side wins over NULL.
        std::optional<bool> x, y;
        if (!ado::IsNull(a)) x = IsTrue(a);
        if (!ado::IsNull(b)) y = IsTrue(b);
        if (isAnd) {
          if ((x && !*x) || (y && !*y)) return false;
          if (x && y) return true;
        } else {
          if ((x && *x) || (y && *y)) return true;
          if (x && y) return false;
        }
        return ado::Null{};
      }
      ado::Value b = Eval(*e.args[1], row);
      if (ado::IsNull(a) || ado::IsNull(b)) return ado::Null{};
      int c = CompareValues(a, b);
      const std::string& op = e.name;
      if (op == "=") return c == 0;
      if (op == "<>") return c != 0;
      if (op == "<") return c < 0;
      if (op == "<=") return c <= 0;
      if (op == ">") return c > 0;
      return c >= 0;
    }
    case Expr::Kind::Call: {
      ado::Value v = Eval(*e.args[0], row);
      if (e.name == "STRCONV") {
        ado::Value mode = Eval(*e.args[1], row);
        auto m = AsNumber(mode);
        if (!m) ThrowTypeMismatch();
        if (ado::IsNull(v)) return v;
        int conv = static_cast<int>(*m);
        if (conv == 128) {  // vbFromUnicode
          std::string ansi = Utf8ToCp949(ToText(v));
          return ado::Bytes(ansi.begin(), ansi.end());
        }
        if (conv == 64) {  // vbUnicode
          if (auto b = std::get_if<ado::Bytes>(&v)) return Cp949ToUtf8(std::string(b->begin(), b->end()));
          return ToText(v);
        }
        if (conv == 1 || conv == 2) {
          std::string s = ToText(v);
          for (auto& ch : s)
            if ((ch >= 'a' && ch <= 'z' && conv == 1) || (ch >= 'A' && ch <= 'Z' && conv == 2)) ch ^= 0x20;
          return s;
        }
        ThrowSyntax("Invalid procedure call or argument (StrConv).");
      }
      if (ado::IsNull(v)) return v;
      if (e.name == "LENB") {
        if (auto b = std::get_if<ado::Bytes>(&v)) return static_cast<int64_t>(b->size());
        return static_cast<int64_t>(2 * Utf16Length(ToText(v)));
      }
      if (e.name == "LEN") {
        if (auto b = std::get_if<ado::Bytes>(&v)) return static_cast<int64_t>((b->size() + 1) / 2);
        return static_cast<int64_t>(Utf16Length(ToText(v)));
      }
      ThrowSyntax("Aggregate function used outside the select list.");
    }
  }
  return ado::Null{};
}

bool Query::Matches(const RowReader& row) { return !st_.where || IsTrue(Eval(*st_.where, &row)); }

void Query::ComputeAggregates() {
  size_t n = outputs_.size();
  aggregateRow_.assign(n, ado::Null{});
  std::vector<int64_t> counts(n, 0);
  // COUNT(*) counts the rows on the pages too: the definition's count may
  // be stale in files Access wrote.
  TableScan scan(db_->File(), *table_);
  RowBytes rb;
  while (scan.Next(rb)) {
    RowReader row(rb.bytes, *table_);
    if (!Matches(row)) continue;
    for (size_t i = 0; i < n; ++i) {
      const Expr& e = *outputs_[i].expr;
      if (e.countStar) {
        ++counts[i];
        continue;
      }
      ado::Value v = Eval(*e.args[0], &row);
      if (ado::IsNull(v)) continue;
      if (e.name == "COUNT") {
        ++counts[i];
      } else if (ado::IsNull(aggregateRow_[i])) {
        aggregateRow_[i] = std::move(v);
      } else {
        int c = CompareValues(v, aggregateRow_[i]);
        if ((e.name == "MAX" && c > 0) || (e.name == "MIN" && c < 0)) aggregateRow_[i] = std::move(v);
      }
    }
  }
  for (size_t i = 0; i < n; ++i)
    if (outputs_[i].expr->name == "COUNT") aggregateRow_[i] = counts[i];
}

bool Query::Next(std::vector<ado::Value>& values) {
  if (aggregate_) {
    if (aggregateDone_) return false;
    ComputeAggregates();
    aggregateDone_ = true;
    values = aggregateRow_;
    return true;
  }
  RowBytes rb;
  while (scan_->Next(rb)) {
    RowReader row(rb.bytes, *table_);
    if (!Matches(row)) continue;
    values.resize(outputs_.size());
    for (size_t i = 0; i < outputs_.size(); ++i)
      values[i] = outputs_[i].column ? DecodeValue(db_->File(), row, *outputs_[i].column, scratch_)
                                     : Eval(*outputs_[i].expr, &row);
    return true;
  }
  return false;
}

}  // namespace brenvo::jet
