#pragma once
// The ODBC recordset and the state it shares with its connection.
#include "platform/odbc/odbc_api.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/interruption.hpp"
#include "platform/odbc/column_plan.hpp"
#include "platform/odbc/odbc_handles.hpp"
#include "platform/odbc/source.hpp"

namespace zx {

class COdbcRecordset;

// What a connection and its recordsets share; the driver connection ends
// with the last owner.
struct CConnectionState {
  ~CConnectionState() {
    if (m_connected) SQLDisconnect(m_dbc.get());
  }
  CEnvHandle m_env;  // declared first: freed after the connection
  CDbcHandle m_dbc;
  bool m_connected = false;
  SqlDialect m_dialect = SqlDialect::Other;
  SQLUINTEGER m_getDataExtensions = 0;
  SQLULEN m_queryTimeout = 0;
  bool m_typeByValue = false;  // SQLite: values read as text and typed here

  std::mutex m_activeLock;
  COdbcRecordset* m_active = nullptr;  // GUARDED_BY(m_activeLock)
  // Cancels the active statement when the process is asked to stop.
  std::unique_ptr<CInterruptionHook> m_interruptionHook;
};

struct CStringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

class COdbcRecordset final : public CSourceRecordset {
 public:
  COdbcRecordset(std::shared_ptr<CConnectionState> state, CStmtHandle statement)
      : m_state(std::move(state)), m_statement(std::move(statement)) {}

  ~COdbcRecordset() override { Close(); }

  void Open(const std::string& sql);

  bool IsEOF() const override { return m_eof; }
  void MoveNext() override;
  int FieldCount() const override { return static_cast<int>(m_columns.size()); }
  const std::string& FieldName(int index) const override { return m_columns.at(index).name; }
  const CValue& FieldValue(int index) const override;
  int FieldIndex(std::string_view name) const override;
  void Close() override;

  // Stops a running SQLExecDirect or SQLFetch of another thread; that call
  // then fails. REQUIRES: m_activeLock held.
  void CancelStatement() noexcept {
    if (m_statement) SQLCancel(Statement());
  }

  // Called by the connection under m_activeLock when the next Execute comes.
  void ReleaseStatement() noexcept {
    m_statement.reset();
    m_eof = true;
  }

 private:
  SQLHSTMT Statement() const { return m_statement.get(); }
  void Describe();
  void Plan();
  void Bind();
  void FetchBlock();
  void LoadRow(SQLULEN row);
  CValue LoadValue(size_t column, SQLULEN row);
  bool ReadWhole(size_t column, std::string& out);

  std::shared_ptr<CConnectionState> m_state;
  CStmtHandle m_statement;
  std::vector<CColumn> m_columns;
  std::unordered_map<std::string, int, CStringHash, std::equal_to<>> m_indexByName;

  SQLULEN m_rowsetSize = 1;
  std::unique_ptr<uint64_t[]> m_buffer;  // 8-byte aligned column arrays
  std::vector<SQLLEN> m_indicators;      // column-major: [column * rowset + row]
  std::vector<SQLUSMALLINT> m_rowStatus;
  SQLULEN m_rowsFetched = 0;
  SQLULEN m_rowInBlock = 0;

  std::vector<CValue> m_current;
  std::string m_whole;  // reused for values read with SQLGetData
  std::vector<char> m_chunk;
  bool m_eof = true;
};

}  // namespace zx
