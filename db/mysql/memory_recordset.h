// The row sets cMySQL hands back: in-memory tables, never connected to a
// data source, whose every field is text (adBSTR) with the column's declared
// length as its defined size. They hold the whole result, so a caller may
// close the connection and still walk the rows.
//
// A freshly built row set stands on its last row (where the last addition
// left it), or at its end when it has no rows; callers move to the first row
// themselves.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/ado/recordset.h"

namespace brenvo::mysql {

class MemoryRecordset : public ado::Recordset {
 public:
  explicit MemoryRecordset(std::vector<ado::FieldInfo> fields);

  // Adds a row at the end and stands on it. values.size() must equal FieldCount().
  void AddRow(std::vector<std::string> values);

  int State() const override { return open_ ? ado::adStateOpen : ado::adStateClosed; }
  void Close() override;

  bool Eof() const override;
  bool Bof() const;
  void MoveNext() override;
  void MoveFirst() override;
  long RecordCount() const;

  int FieldCount() const override { return static_cast<int>(fields_.size()); }
  const ado::FieldInfo& Field(int i) const override;
  const ado::Value& GetValue(int i) const override;

  // Field lookup by name is case-insensitive, as ADO's is; -1 when absent.
  int FieldIndex(std::string_view name) const;
  // The current row's text of field i or of the named field; throws
  // BrenvoError 3265 for an unknown name, 3021 with no current row.
  const std::string& Text(int i) const;
  const std::string& Text(std::string_view name) const;

  // In-memory appending, as ADO allows on a disconnected row set.
  void AddNew() override;
  void SetValue(int i, ado::Value v) override;
  void Update() override {}

 private:
  void RequireOpen() const;
  void RequireCurrent() const;

  std::vector<ado::FieldInfo> fields_;
  std::vector<std::vector<ado::Value>> rows_;
  size_t pos_ = 0;  // rows_.size() means at the end
  bool open_ = true;
};

}  // namespace brenvo::mysql
