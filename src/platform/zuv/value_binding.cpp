#include "platform/zuv/value_binding.hpp"

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace zx {

CValue ReadColumn(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER: {
      // Int32 when it fits: the callers read keys and codes as Long values.
      const sqlite3_int64 v = sqlite3_column_int64(stmt, column);
      if (v >= INT32_MIN && v <= INT32_MAX) return CValue::FromInt32(static_cast<int32_t>(v));
      return CValue::FromInt64(v);
    }
    case SQLITE_FLOAT:
      return CValue::FromDouble(sqlite3_column_double(stmt, column));
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
      return CValue::FromText(std::string(text, sqlite3_column_bytes(stmt, column)));
    }
    case SQLITE_BLOB: {
      const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt, column));
      const int size = sqlite3_column_bytes(stmt, column);
      return CValue::FromBinary(std::vector<uint8_t>(data, data + size));
    }
    default:
      return CValue();
  }
}

int BindValue(sqlite3_stmt* stmt, int parameter, const CValue& value) {
  switch (value.GetType()) {
    case CValue::Type::Null:
      return sqlite3_bind_null(stmt, parameter);
    case CValue::Type::Int16:
      return sqlite3_bind_int(stmt, parameter, value.Int16());
    case CValue::Type::Int32:
      return sqlite3_bind_int(stmt, parameter, value.Int32());
    case CValue::Type::Int64:
      return sqlite3_bind_int64(stmt, parameter, value.Int64());
    case CValue::Type::Double:
      return sqlite3_bind_double(stmt, parameter, value.Double());
    case CValue::Type::Bool:
      // SQLite's own truth values; the files are read by SQL, not by Access.
      return sqlite3_bind_int(stmt, parameter, value.Bool() ? 1 : 0);
    case CValue::Type::Text:
      return sqlite3_bind_text64(stmt, parameter, value.Text().data(), value.Text().size(),
                                 SQLITE_STATIC, SQLITE_UTF8);
    case CValue::Type::DateTime: {
      const std::string text = value.DateTime().ToIsoText();
      return sqlite3_bind_text64(stmt, parameter, text.data(), text.size(), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
    }
    case CValue::Type::Binary: {
      const auto& bytes = value.Binary().bytes;
      if (bytes.empty()) return sqlite3_bind_zeroblob(stmt, parameter, 0);
      return sqlite3_bind_blob64(stmt, parameter, bytes.data(), bytes.size(), SQLITE_STATIC);
    }
  }
  return SQLITE_MISUSE;
}

}  // namespace zx
