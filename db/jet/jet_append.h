// A record set opened on a table for appending: AddNew starts an empty row,
// SetValue fills a column by position, Update stores the row through the
// table's writer (each Update one row, refused rows not stored). Close makes
// the rows durable. The record set keeps the writer alive and turns into a
// closed record set when the writer is closed before it.
#pragma once

#include <memory>

#include "db/ado/recordset.h"
#include "db/jet/writer.h"

namespace brenvo::jet {

std::unique_ptr<ado::Recordset> MakeAppendRecordset(std::shared_ptr<JetWriter> writer, TableWriter& table);

}  // namespace brenvo::jet
