#pragma once
// The ZUV file engine (SQLite underneath), shaped like the database engine
// the exporter was written for: an engine object, databases, dynasets.
// Failures throw CExportError with DAO numbers: unknown field 3265, unknown
// column in Execute 3061, NOT NULL violated 3314, disk full / out of memory
// 3035, file missing 3024, not a ZUV/SQLite file 3343, other 3000.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/value.hpp"

namespace zx {

class CZuvRecordset;
struct CZuvEngineState;

// An open ZUV file. Writes are grouped into transactions behind the scenes
// (committed every 10,000 rows, before DDL, on Close and on Idle); a crash
// leaves the file consistent, holding the rows of the last commit. Reads see
// the rows written so far. If SQLite ever rolls back rows that were already
// reported stored (a full disk can), every later write, Idle and Close throw
// kEngineError naming the loss. Thread: one thread at a time.
class CZuvDatabase {
 public:
  ~CZuvDatabase();  // closes, committing pending writes; never throws
  CZuvDatabase(const CZuvDatabase&) = delete;
  CZuvDatabase& operator=(const CZuvDatabase&) = delete;

  // Runs one statement (SQLite dialect; [bracketed] names and IIF work).
  void Execute(const std::string& sql);
  // A dynaset on a table name or on a one-table "SELECT ... FROM [t] ...".
  std::unique_ptr<CZuvRecordset> OpenRecordset(const std::string& tableOrSelect);

  bool TableExists(const std::string& name);
  std::vector<std::string> TableNames();
  struct CColumn {
    std::string name;
    std::string declaredType;
    bool notNull = false;
    bool hasDefault = false;  // declared with DEFAULT
  };
  std::vector<CColumn> Columns(const std::string& table);

  void Close();  // commits; idempotent
  const std::string& Path() const;

 private:
  friend class CZuvEngine;
  friend class CZuvRecordset;
  friend struct CZuvEngineState;
  struct Impl;
  explicit CZuvDatabase(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

// A dynaset: the rows of a table or query, positioned on the first row,
// with AddNew/Edit + SetField + Update to write.
class CZuvRecordset {
 public:
  ~CZuvRecordset();
  bool IsEOF() const;
  void MoveNext();
  long RecordCount() const;  // rows of the current result
  void Requery();
  int FieldCount() const;
  const std::string& FieldName(int index) const;
  // Position of a field by name (exact match first, then ignoring ASCII case,
  // as SQL names do), or throws 3265.
  int FieldIndex(std::string_view name) const;
  // Integers come back as Int32 when they fit, else Int64; reals as Double,
  // texts as Text, blobs as Binary, NULL as CValue().
  CValue GetField(int index) const;
  CValue GetField(std::string_view name) const;

  void AddNew();  // starts a new record, every field unset
  void Edit();    // starts editing the current record
  // Unknown name or position throws 3265; an unset field keeps its default.
  // Bool is stored as 1/0, DateTime as ISO text "YYYY-MM-DD HH:MM:SS".
  void SetField(int index, CValue value);
  void SetField(std::string_view name, CValue value);
  // Stores the pending record; on failure it stays pending until AddNew/Close.
  void Update();
  void Close();

 private:
  friend class CZuvDatabase;
  struct Impl;
  explicit CZuvRecordset(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

// The engine object: options, opening files, idle, compaction.
class CZuvEngine {
 public:
  CZuvEngine();
  ~CZuvEngine();
  // Accepted and recorded; 62 (locks per file) and 8 (buffer size, KiB of
  // cache here) are the ones the export sets.
  void SetOption(int option, int value);
  std::string Version() const;  // "SQLite x.y.z"
  // Exclusive: no other process may open the file while it is open.
  std::unique_ptr<CZuvDatabase> OpenDatabase(const std::string& path, bool exclusive = false);
  // Lets the engine release what it holds (caches); safe between writes.
  void Idle();
  // Writes a compacted copy of `from` to `to` (which must not exist) and
  // syncs it to disk.
  void CompactDatabase(const std::string& from, const std::string& to);

 private:
  std::shared_ptr<CZuvEngineState> m_state;  // shared with the databases it opened
};

// Makes `to` (which must not exist) a copy of the ZUV file `from` as SQLite
// reads it: committed changes still in its write-ahead log are included, and
// a source written meanwhile by another program gives one consistent state.
// Page size, encoding, header fields and every table, view and index come
// over as they are; the copy uses a rollback journal, whatever the source
// uses. The source is only read. On failure nothing is left at `to`.
// Throws CFileError when the file system refuses (its SystemText names the
// cause), CExportError for a source that is no ZUV file or cannot be read.
void CopyZuvFile(const std::string& from, const std::string& to);

// Test hook: called before every Update and SetField with the operation name
// ("Update" or "SetField") and the table; returning a non-zero code makes
// that call fail with CExportError(code, ...). Never set in production.
using ZuvFaultHook = std::function<uint32_t(std::string_view operation, std::string_view table)>;
void SetZuvFaultHook(ZuvFaultHook hook);

}  // namespace zx
