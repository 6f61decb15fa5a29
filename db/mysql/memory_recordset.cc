#include "db/mysql/memory_recordset.h"

#include <algorithm>
#include <cctype>

#include "util/error.h"

namespace brenvo::mysql {
namespace {
constexpr const char* kSource = "ADODB.Recordset";

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

std::string AsText(const ado::Value& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (const auto* b = std::get_if<bool>(&v)) return *b ? "1" : "0";
  if (const auto* d = std::get_if<ado::DateTime>(&v)) return ado::FormatDateTime(*d);
  return {};
}
}  // namespace

MemoryRecordset::MemoryRecordset(std::vector<ado::FieldInfo> fields) : fields_(std::move(fields)) {}

void MemoryRecordset::AddRow(std::vector<std::string> values) {
  std::vector<ado::Value> row;
  row.reserve(fields_.size());
  for (size_t i = 0; i < fields_.size(); ++i) row.emplace_back(i < values.size() ? std::move(values[i]) : std::string());
  rows_.push_back(std::move(row));
  pos_ = rows_.size() - 1;
}

void MemoryRecordset::Close() {
  RequireOpen();
  open_ = false;
  rows_.clear();
  pos_ = 0;
}

bool MemoryRecordset::Eof() const {
  RequireOpen();
  return pos_ >= rows_.size();
}

bool MemoryRecordset::Bof() const {
  RequireOpen();
  return rows_.empty();
}

void MemoryRecordset::MoveNext() {
  RequireCurrent();
  ++pos_;
}

void MemoryRecordset::MoveFirst() {
  RequireOpen();
  pos_ = 0;
}

long MemoryRecordset::RecordCount() const {
  RequireOpen();
  return static_cast<long>(rows_.size());
}

const ado::FieldInfo& MemoryRecordset::Field(int i) const {
  if (i < 0 || i >= FieldCount())
    throw BrenvoError(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.",
                      kSource);
  return fields_[static_cast<size_t>(i)];
}

const ado::Value& MemoryRecordset::GetValue(int i) const {
  Field(i);
  RequireCurrent();
  return rows_[pos_][static_cast<size_t>(i)];
}

int MemoryRecordset::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (SameNameIgnoringCase(fields_[i].name, name)) return static_cast<int>(i);
  return -1;
}

const std::string& MemoryRecordset::Text(int i) const {
  return std::get<std::string>(GetValue(i));
}

const std::string& MemoryRecordset::Text(std::string_view name) const {
  int i = FieldIndex(name);
  if (i < 0)
    throw BrenvoError(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.",
                      kSource);
  return Text(i);
}

void MemoryRecordset::AddNew() {
  RequireOpen();
  rows_.emplace_back(fields_.size(), ado::Value(std::string()));
  pos_ = rows_.size() - 1;
}

void MemoryRecordset::SetValue(int i, ado::Value v) {
  Field(i);
  RequireCurrent();
  rows_[pos_][static_cast<size_t>(i)] = AsText(v);
}

void MemoryRecordset::RequireOpen() const {
  if (!open_) throw BrenvoError(3704, "Operation is not allowed when the object is closed.", kSource);
}

void MemoryRecordset::RequireCurrent() const {
  RequireOpen();
  if (pos_ >= rows_.size())
    throw BrenvoError(3021,
                      "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
                      "requires a current record.",
                      kSource);
}

}  // namespace brenvo::mysql
