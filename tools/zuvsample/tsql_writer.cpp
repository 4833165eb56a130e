#include <fmt/format.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "writers.hpp"

namespace zx::sample {
namespace {

// SQL Server accepts at most 1000 rows in one VALUES list.
constexpr size_t kRowsPerInsert = 1000;

std::string Bracketed(const std::string& name) {
  std::string out = "[";
  for (char c : name) out += c == ']' ? std::string("]]") : std::string(1, c);
  return out + "]";
}

const char* ServerType(ColumnType type) {
  switch (type) {
    case ColumnType::Integer:
      return "INT";
    case ColumnType::Real:
      return "FLOAT";
    case ColumnType::DateTime:
      return "DATETIME";
    default:
      return "NVARCHAR(MAX)";
  }
}

std::string Literal(const CValue& v, ColumnType type) {
  switch (v.GetType()) {
    case CValue::Type::Null:
      return "NULL";
    case CValue::Type::Int16:
      return std::to_string(v.Int16());
    case CValue::Type::Int32:
      return std::to_string(v.Int32());
    case CValue::Type::Int64:
      return std::to_string(v.Int64());
    case CValue::Type::Bool:
      return v.Bool() ? "1" : "0";
    case CValue::Type::Double:
      return fmt::format("{}", v.Double());  // shortest exact text
    case CValue::Type::Text: {
      if (type == ColumnType::DateTime) {
        // 'YYYY-MM-DDTHH:MM:SS' reads the same under every DATEFORMAT and language.
        std::string iso = v.Text();
        if (iso.size() > 10 && iso[10] == ' ') iso[10] = 'T';
        return "'" + iso + "'";
      }
      std::string out = "N'";
      for (char c : v.Text()) out += c == '\'' ? std::string("''") : std::string(1, c);
      return out + "'";
    }
    default:
      throw std::logic_error("zuvsample writes no dates or binaries as values");
  }
}

}  // namespace

int64_t WriteSqlScript(CSourceLayout& layout, const std::string& path) {
  const std::string tmp = path + ".tmp";
  std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error(fmt::format("{}: cannot create the script", tmp));
  out << "-- Sample survey source tables for SQL Server (written by zuvsample).\n"
         "SET NOCOUNT ON;\nGO\n";
  const auto& tables = layout.Tables();
  for (const CTableDef& def : tables) {
    const std::string name = "[dbo]." + Bracketed(def.name);
    out << fmt::format("IF OBJECT_ID(N'{}', N'U') IS NOT NULL DROP TABLE {};\n", "dbo." + def.name,
                       name);
    out << "CREATE TABLE " << name << " (";
    for (size_t c = 0; c < def.columns.size(); ++c) {
      const CColumnDef& col = def.columns[c];
      out << (c ? ", " : "") << Bracketed(col.name) << ' ' << ServerType(col.type)
          << (col.notNull || int(c) == def.primaryKey ? " NOT NULL" : " NULL")
          << (int(c) == def.primaryKey ? " PRIMARY KEY" : "");
    }
    out << ");\n";
    if (!def.indexColumns.empty()) {
      std::string cols;
      for (int c : def.indexColumns)
        cols += (cols.empty() ? "" : ", ") + Bracketed(def.columns[size_t(c)].name);
      out << fmt::format("CREATE {}INDEX {} ON {} ({});\n", def.uniqueIndex ? "UNIQUE " : "",
                         Bracketed("IX_" + def.name), name, cols);
    }
  }
  out << "GO\n";

  // Each table gathers its rows into multi-row INSERTs; a batch ends with
  // GO now and then to keep each batch small for the server.
  std::vector<std::string> texts(tables.size());
  std::vector<size_t> pending(tables.size(), 0);
  size_t statements = 0;
  auto flush = [&](size_t table) {
    if (pending[table] == 0) return;
    out << texts[table] << ";\n";
    if (++statements % 20 == 0) out << "GO\n";
    texts[table].clear();
    pending[table] = 0;
  };
  const int64_t values = layout.EmitRows([&](size_t table, const std::vector<CValue>& row) {
    const CTableDef& def = tables[table];
    std::string& text = texts[table];
    if (pending[table] == 0) {
      text = "INSERT INTO [dbo]." + Bracketed(def.name) + " (";
      for (size_t c = 0; c < def.columns.size(); ++c)
        text += (c ? ", " : "") + Bracketed(def.columns[c].name);
      text += ") VALUES\n(";
    } else {
      text += ",\n(";
    }
    for (size_t c = 0; c < row.size(); ++c)
      text += (c ? ", " : "") + Literal(row[c], def.columns[c].type);
    text += ")";
    if (++pending[table] == kRowsPerInsert) flush(table);
  });
  for (size_t t = 0; t < tables.size(); ++t) flush(t);
  out << "GO\n";
  out.close();
  if (!out) throw std::runtime_error(fmt::format("{}: write failed", tmp));
  std::filesystem::rename(tmp, path);
  return values;
}

}  // namespace zx::sample
