#include "db/jet/jet_append.h"

#include "db/jet/column_value.h"
#include "db/jet/jet_errors.h"

namespace brenvo::jet {
namespace {

constexpr const char* kAdoRecordset = "ADODB.Recordset";

class AppendRecordset : public ado::Recordset {
 public:
  AppendRecordset(std::shared_ptr<JetWriter> w, TableWriter& t) : writer_(std::move(w)), table_(&t) {
    for (const auto& c : t.Def().columns)
      fields_.push_back({c.name, AdoType(c), AdoDefinedSize(c), c.precision, c.scale, true});
    values_.resize(fields_.size());
  }
  ~AppendRecordset() override {
    try {
      if (table_ && writer_->IsOpen()) table_->Commit();
    } catch (...) {
      // The file keeps its last durable point; Close reports the error.
    }
  }

  int State() const override { return table_ && writer_->IsOpen() ? ado::adStateOpen : ado::adStateClosed; }
  void Close() override {
    Need();
    TableWriter* t = table_;
    table_ = nullptr;
    t->Commit();
  }
  // An append-only record set shows no rows.
  bool Eof() const override {
    Need();
    return true;
  }
  void MoveNext() override { NoCurrent(); }
  void MoveFirst() override { Need(); }
  int FieldCount() const override {
    Need();
    return static_cast<int>(fields_.size());
  }
  const ado::FieldInfo& Field(int i) const override {
    Need();
    Check(i);
    return fields_[static_cast<size_t>(i)];
  }
  const ado::Value& GetValue(int i) const override {
    Need();
    Check(i);
    if (!editing_) NoCurrent();
    const auto& v = values_[static_cast<size_t>(i)];
    return v ? *v : null_;
  }
  void AddNew() override {
    Need();
    std::fill(values_.begin(), values_.end(), std::nullopt);
    editing_ = true;
  }
  void SetValue(int i, ado::Value v) override {
    Need();
    Check(i);
    if (!editing_) NoCurrent();
    values_[static_cast<size_t>(i)] = std::move(v);
  }
  void Update() override {
    Need();
    if (!editing_) NoCurrent();
    table_->Insert(values_);
    editing_ = false;
  }

 private:
  void Need() const {
    if (!table_ || !writer_->IsOpen()) throw BrenvoError(kErrObjectClosed, "Operation is not allowed when the object is closed.", kAdoRecordset);
  }
  void Check(int i) const {
    if (i < 0 || static_cast<size_t>(i) >= fields_.size())
      throw BrenvoError(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.",
                        kAdoRecordset);
  }
  [[noreturn]] static void NoCurrent() {
    throw BrenvoError(kErrNoCurrentRecord,
                      "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
                      "requires a current record.",
                      kAdoRecordset);
  }
  std::shared_ptr<JetWriter> writer_;
  TableWriter* table_;
  std::vector<ado::FieldInfo> fields_;
  std::vector<std::optional<ado::Value>> values_;
  ado::Value null_ = ado::Null{};
  bool editing_ = false;
};

}  // namespace

std::unique_ptr<ado::Recordset> MakeAppendRecordset(std::shared_ptr<JetWriter> writer, TableWriter& table) {
  return std::make_unique<AppendRecordset>(std::move(writer), table);
}

}  // namespace brenvo::jet
