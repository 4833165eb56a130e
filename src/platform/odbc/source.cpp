#include "platform/odbc/source.hpp"

#include <fmt/format.h>

#include "platform/error.hpp"

namespace zx {

void ThrowFieldNotFound() {
  throw CExportError(codes::kMissingField, "Source recordset",
                     "Item cannot be found in the collection corresponding to the requested name "
                     "or ordinal.");
}

void ThrowNoCurrentRow() {
  throw CExportError(codes::Dao(3021), "Source recordset",
                     "Either BOF or EOF is True, or the current record has been deleted. "
                     "Requested operation requires a current record.");
}

const CValue& CSourceRecordset::FieldValue(std::string_view name) const {
  const int index = FieldIndex(name);
  if (index < 0) ThrowFieldNotFound();
  return FieldValue(index);
}

std::optional<int32_t> CSourceRecordset::FieldInt32(int index) const {
  const CValue& value = FieldValue(index);
  if (value.IsNull()) return std::nullopt;
  return value.ToInt32();
}

CValue CSourceConnection::QueryScalar(const std::string& sql) {
  std::unique_ptr<CSourceRecordset> recordset = Execute(sql);
  CValue value;
  if (!recordset->IsEOF() && recordset->FieldCount() > 0) value = recordset->FieldValue(0);
  recordset->Close();
  return value;
}

std::string CSourceConnection::DateBound(const CCalendarDate& date) const {
  if (Dialect() == SqlDialect::Sqlite) {
    // A SQLite source keeps date-times as 'YYYY-MM-DD HH:MM:SS' text, which
    // compares in date order.
    return fmt::format("'{:04}-{:02}-{:02} 00:00:00'", date.year, date.month, date.day);
  }
  return fmt::format("CONVERT(DATETIME, '{}', 103)", FormatDayMonthYear(date));
}

}  // namespace zx
