// Connecting through unixODBC: the environment, the driver connection and
// the statements it hands out.
#include "platform/odbc/odbc_api.hpp"

#include <algorithm>

#include "platform/error.hpp"
#include "platform/odbc/connect_checks.hpp"
#include "platform/odbc/odbc_diagnostics.hpp"
#include "platform/odbc/odbc_recordset.hpp"
#include "platform/odbc/source.hpp"

namespace zx {
namespace {

class COdbcConnection final : public CSourceConnection {
 public:
  explicit COdbcConnection(std::shared_ptr<CConnectionState> state) : m_state(std::move(state)) {}

  std::unique_ptr<CSourceRecordset> Execute(const std::string& sql) override {
    std::unique_lock lock(m_state->m_activeLock);
    if (m_state->m_active != nullptr) {
      // One active statement per connection (FreeTDS): the newer query wins.
      m_state->m_active->ReleaseStatement();
      m_state->m_active = nullptr;
    }
    SQLHSTMT raw = SQL_NULL_HSTMT;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, m_state->m_dbc.get(), &raw), SQL_HANDLE_DBC,
          m_state->m_dbc.get(), "SQLAllocHandle");
    auto recordset = std::make_unique<COdbcRecordset>(m_state, CStmtHandle(raw));
    m_state->m_active = recordset.get();
    lock.unlock();
    recordset->Open(sql);
    return recordset;
  }

  SqlDialect Dialect() const override { return m_state->m_dialect; }

 private:
  std::shared_ptr<CConnectionState> m_state;
};

SqlDialect DialectOf(std::string_view dbmsName) {
  if (dbmsName.starts_with("Microsoft SQL Server")) return SqlDialect::SqlServer;
  if (dbmsName.starts_with("SQLite")) return SqlDialect::Sqlite;
  return SqlDialect::Other;
}

}  // namespace

std::unique_ptr<CSourceConnection> ConnectOdbc(const std::string& connectString,
                                               int queryTimeoutSeconds) {
  COdbcOptions options;
  options.queryTimeoutSeconds = queryTimeoutSeconds;
  return ConnectOdbc(connectString, options);
}

std::unique_ptr<CSourceConnection> ConnectOdbc(const std::string& connectString,
                                               const COdbcOptions& options) {
  const std::string checkedString = CheckSqliteDatabase(connectString);
  auto state = std::make_shared<CConnectionState>();
  state->m_queryTimeout = static_cast<SQLULEN>(std::max(options.queryTimeoutSeconds, 0));

  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    throw CExportError(codes::kFail, "ODBC", "[HY001] Cannot allocate an ODBC environment");
  }
  state->m_env.reset(env);
  Check(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
        SQL_HANDLE_ENV, env, "SQLSetEnvAttr");
  SQLHDBC dbc = SQL_NULL_HDBC;
  Check(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_HANDLE_ENV, env, "SQLAllocHandle");
  state->m_dbc.reset(dbc);

  Check(SQLDriverConnect(dbc, nullptr,
                         reinterpret_cast<SQLCHAR*>(const_cast<char*>(checkedString.c_str())),
                         SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, dbc, "SQLDriverConnect");
  state->m_connected = true;

  char dbmsName[256] = {};
  SQLSMALLINT length = 0;
  Check(SQLGetInfo(dbc, SQL_DBMS_NAME, dbmsName, sizeof dbmsName, &length), SQL_HANDLE_DBC, dbc,
        "SQLGetInfo");
  state->m_dialect = DialectOf(dbmsName);
  state->m_typeByValue = state->m_dialect == SqlDialect::Sqlite && !options.declaredTypes;
  // SQLCancel from another thread stops a statement that waits on a server.
  // The SQLite driver instead closes the statement under the reading thread's
  // feet; its fetches are short, so the reader there stops at its next hand-over.
  if (state->m_dialect != SqlDialect::Sqlite) {
    state->m_interruptionHook = std::make_unique<CInterruptionHook>([s = state.get()] {
      std::lock_guard lock(s->m_activeLock);
      if (s->m_active != nullptr) s->m_active->CancelStatement();
    });
  }
  SQLUINTEGER extensions = 0;
  if (SQL_SUCCEEDED(
          SQLGetInfo(dbc, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr))) {
    state->m_getDataExtensions = extensions;
  }
  if (options.unboundLongValues) state->m_getDataExtensions = 0;
  return std::make_unique<COdbcConnection>(std::move(state));
}

}  // namespace zx
