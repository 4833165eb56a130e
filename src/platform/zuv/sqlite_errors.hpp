#pragma once
// SQLite result codes become exporter errors (DAO numbers) here, and only
// here; engine.hpp lists the numbers.
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace zx {

// The source of every error the engine raises.
inline constexpr char kZuvEngineSource[] = "ZUV engine";

// The first 200 characters of a statement, for error texts.
std::string Abbreviated(std::string_view sql);

// The connection's message; for a failed file operation (an I/O error, a
// full disk) followed by the cause the system gave, as in "disk I/O error:
// File too large".
std::string MessageOf(sqlite3* db);

[[noreturn]] void ThrowSqlite(int rc, std::string_view message, std::string_view context);
// With the connection's message (SQLite's text for `rc` without one).
[[noreturn]] void ThrowSqlite(int rc, sqlite3* db, std::string_view context);
[[noreturn]] void ThrowEngine(uint32_t code, std::string description);
// 3265 for a field `what` (a quoted name or "#position") of `table`.
[[noreturn]] void ThrowItemNotFound(std::string_view what, std::string_view table);

}  // namespace zx
