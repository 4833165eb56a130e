#pragma once
// What a source column's declared type asks its values to become.
#include <cstdint>

namespace zx {

// Untyped: a SQLite column whose values are typed one by one.
enum class CKind : uint8_t { Int16, Int32, Int64, Double, Bool, Text, DateTime, Binary, Untyped };

}  // namespace zx
