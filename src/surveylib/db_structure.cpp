#include "surveylib/db_structure.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <set>

#include "platform/error.hpp"
#include "platform/odbc/source.hpp"
#include "platform/sql_identifier.hpp"
#include "platform/text.hpp"
#include "platform/zuv/engine.hpp"
#include "surveylib/additional_tables.hpp"
#include "surveylib/interview_fields.hpp"
#include "surveylib/questionnaire.hpp"
#include "surveylib/survey_names.hpp"

namespace zx {
namespace {

// SQLite's default limit on the columns of one table.
constexpr size_t kMaxColumns = 2000;

// "ORV Reponse<digits>", as SQLite compares table names (ignoring ASCII case).
bool IsResponseTableName(std::string_view name) {
  constexpr std::string_view kPrefix = "orv reponse";
  const std::string lower = ToLowerAscii(name);
  if (lower.size() <= kPrefix.size() || lower.compare(0, kPrefix.size(), kPrefix) != 0)
    return false;
  return std::all_of(lower.begin() + kPrefix.size(), lower.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

const char* FieldType(const CQuestion& q) {
  if (q.GetTypeElement() == element_types::kLoop) return "INTEGER";
  switch (q.GetTypeQuestion()) {
    case question_types::kSingleChoice:
    case question_types::kMultipleChoice:
      return "INTEGER";
    case question_types::kNumeric:
      return "REAL";
    default:
      return "TEXT";  // open text, dates, and any type this library does not know
  }
}

const char* FieldType(FieldKind kind) {
  switch (kind) {
    case FieldKind::Integer:
      return "INTEGER";
    case FieldKind::Real:
      return "REAL";
    default:
      return "TEXT";  // dates as ISO 8601 text
  }
}

struct CFieldPlan {
  std::string name;
  const char* type;
};

struct CTablePlan {
  int depth = 0;
  std::vector<CFieldPlan> fields;
  std::set<std::string> names;
  void Add(std::string name, const char* type) {
    if (names.insert(name).second) fields.push_back({std::move(name), type});
  }
};

std::string KeyColumns(int keyCount) {
  std::string keys;
  for (int k = 1; k <= keyCount; ++k) keys += fmt::format("{}\"Cle{}\"", k > 1 ? ", " : "", k);
  return keys;
}

std::string CreateTableSql(const std::string& name, int keyCount, bool withOrder,
                           const std::vector<CFieldPlan>& fields) {
  std::string sql = "CREATE TABLE " + QuoteIdentifier(name) + " (\"Cle1\" INTEGER NOT NULL";
  for (int k = 2; k <= keyCount; ++k) sql += fmt::format(", \"Cle{}\" INTEGER", k);
  if (withOrder) sql += ", \"Ordre\" INTEGER";
  for (const CFieldPlan& f : fields) sql += ", " + QuoteIdentifier(f.name) + " " + f.type;
  return sql + ")";
}

std::string CreateKeyIndexSql(const std::string& name, int keyCount) {
  return "CREATE UNIQUE INDEX " + QuoteIdentifier(name + " Keys") + " ON " + QuoteIdentifier(name) +
         " (" + KeyColumns(keyCount) + ")";
}

}  // namespace

bool CDBStructureVirtual::DeleteAndRecreateResponseStructure(const CQuestionnaire& questionnaire,
                                                             bool legacyLayout) {
  // Every numbered response table goes, whatever the highest number.
  if (!DeleteResponseStructure(0)) return false;
  return CreateResponseTables(questionnaire, legacyLayout);
}

CDBStructureAdo::CDBStructureAdo(std::string zuvPath, CSourceConnection* givenSource)
    : m_zuvPath(std::move(zuvPath)), m_givenSource(givenSource) {}

CDBStructureAdo CDBStructureAdo::OnZuvFile(std::string zuvPath) {
  return CDBStructureAdo(std::move(zuvPath), nullptr);
}

CDBStructureAdo CDBStructureAdo::OnSourceDatabase(CSourceConnection& source) {
  return CDBStructureAdo({}, &source);
}

CDBStructureAdo::~CDBStructureAdo() {
  try {
    Close();
  } catch (...) {
    // Destructors never throw; Close reports nothing anyway.
  }
}

bool CDBStructureAdo::Open(bool exclusive) {
  Close();
  m_errorText.clear();
  if (m_givenSource) {
    m_source = m_givenSource;
    return true;
  }
  try {
    m_engine = std::make_unique<CZuvEngine>();
    m_database = m_engine->OpenDatabase(m_zuvPath, exclusive);
    return true;
  } catch (const CExportError& e) {
    m_errorText = fmt::format("Cannot open the ZUV file {}: {}", m_zuvPath, e.Description());
    Close();
    return false;
  }
}

bool CDBStructureAdo::SourceTableExists(const std::string& name) {
  if (name.find(']') != std::string::npos) return false;
  try {
    auto rs = m_source->Execute("SELECT * FROM " + Bracketed(name) + " WHERE 1 = 0");
    rs->Close();
    return true;
  } catch (const CExportError& e) {
    // Anything but a missing table (a deadlock, a lost connection) is the
    // server's failure to report, not an answer.
    if (e.IsTableNotFound()) return false;
    throw;
  }
}

bool CDBStructureAdo::ReadDataStructure(CQuestionnaire& questionnaire) {
  if (m_database) {
    try {
      if (m_database->TableExists("Questionnaire")) return true;
      questionnaire.m_errorText =
          fmt::format("The file {} has no [Questionnaire] table", m_database->Path());
    } catch (const CExportError& e) {
      questionnaire.m_errorText = e.Description();
    }
    return false;
  }
  if (!m_source) {
    questionnaire.m_errorText = "The source database is not open";
    return false;
  }
  const int highest = HighestResponseTable(questionnaire);
  if (highest == 0) return true;  // nothing to read, nothing to require
  std::vector<std::string> required;
  if (m_surveyFlag) {
    required = {NewLayoutDataTableName(m_surveyId), NewLayoutInterviewTableName(m_surveyId)};
  } else {
    for (int t = 1; t <= highest; ++t) required.push_back(LegacyResponseTableName(m_surveyId, t));
  }
  for (const std::string& name : required) {
    try {
      if (SourceTableExists(name)) continue;
    } catch (const CExportError& e) {
      questionnaire.m_errorText = e.Description();
      return false;
    }
    questionnaire.m_errorText = fmt::format(
        "The source database has no table {} for survey {} (its questionnaire uses "
        "response tables 1 to {})",
        name, m_surveyId, highest);
    return false;
  }
  return true;
}

bool CDBStructureAdo::RequireZuv(const char* operation) {
  if (m_database) return true;
  m_errorText = fmt::format("{} needs an open ZUV file", operation);
  return false;
}

bool CDBStructureAdo::DeleteResponseStructure(int /*highestTableNumber*/) {
  if (!RequireZuv("DeleteResponseStructure")) return false;
  try {
    for (const std::string& name : m_database->TableNames())
      if (IsResponseTableName(name)) m_database->Execute("DROP TABLE " + QuoteIdentifier(name));
    return true;
  } catch (const CExportError& e) {
    m_errorText = fmt::format("Cannot delete the response tables of {}: {}", m_database->Path(),
                              e.Description());
    return false;
  }
}

bool CDBStructureAdo::CreateResponseTables(const CQuestionnaire& questionnaire,
                                           bool /*legacyLayout*/) {
  if (!RequireZuv("DeleteAndRecreateResponseStructure")) return false;
  std::map<int, CTablePlan> tables;
  for (int i = 0; i < questionnaire.GetNbreQuestion(); ++i) {
    const CQuestion& q = questionnaire.GetQuestion(i);
    if (!q.CarriesData()) continue;
    const int depth = questionnaire.GetLoopDepth(i);
    const char* type = FieldType(q);
    auto place = [&](int table, int64_t first, int64_t last) {
      if (table < 1) return true;  // no table: Read warned about it
      CTablePlan& plan = tables[table];
      plan.depth = std::max(plan.depth, depth);
      if (last - first + 1 + static_cast<int64_t>(plan.fields.size()) > int64_t{kMaxColumns}) {
        m_errorText = fmt::format("Response table {} would need more than {} fields (question {})",
                                  table, kMaxColumns, q.m_id);
        return false;
      }
      plan.Add(fmt::format("{};0", q.m_id), "INTEGER");
      for (int64_t d = first; d <= last; ++d) plan.Add(fmt::format("{};{}", q.m_id, d), type);
      return true;
    };
    if (q.m_additionalTables.empty()) {
      if (!place(q.m_tableNumber, 1, q.m_nbMaxReponse)) return false;
    } else {
      for (const CAdditionalTableToken& token : TableTokens(q))
        if (!place(token.tableNumber, token.FirstDataOrder(), token.LastDataOrder())) return false;
    }
  }
  // The interview fields live in table 1, even when no question stores data there.
  if (!tables.empty()) {
    CTablePlan& first = tables[1];
    std::vector<CFieldPlan> fields;
    for (const CInterviewField& f : kInterviewFields)
      fields.push_back({std::string(f.targetField), FieldType(f.kind)});
    fields.insert(fields.end(), first.fields.begin(), first.fields.end());
    first.fields = std::move(fields);
  }
  try {
    for (const auto& [number, plan] : tables) {
      const std::string name = GetResponseTableName(number);
      const int keyCount = plan.depth + 1;
      m_database->Execute(CreateTableSql(name, keyCount, plan.depth > 0, plan.fields));
      m_database->Execute(CreateKeyIndexSql(name, keyCount));
    }
    return true;
  } catch (const CExportError& e) {
    m_errorText = fmt::format("Cannot create the response tables of {}: {}", m_database->Path(),
                              e.Description());
    return false;
  }
}

COrvixTableDef* CDBStructureAdo::CreateOrvixTableDef(const std::string& name, int keyCount,
                                                     bool withOrder) {
  if (!RequireZuv("CreateOrvixTableDef")) return nullptr;
  keyCount = std::clamp(keyCount, 1, 32);
  try {
    m_database->Execute(CreateTableSql(name, keyCount, withOrder, {}));
    m_database->Execute(CreateKeyIndexSql(name, keyCount));
  } catch (const CExportError& e) {
    m_errorText = fmt::format("Cannot create the table {}: {}", name, e.Description());
    return nullptr;
  }
  m_lastTableDef = std::make_unique<COrvixTableDef>();
  m_lastTableDef->m_name = name;
  return m_lastTableDef.get();
}

std::string CDBStructureAdo::GetResponseTableName(int tableNumber) {
  return TargetResponseTableName(tableNumber);
}

bool CDBStructureAdo::IsExistingTable(const std::string& name) {
  try {
    if (m_database) return m_database->TableExists(name);
    if (m_source) return SourceTableExists(name);
  } catch (const CExportError&) {
  }
  return false;
}

void CDBStructureAdo::Close() {
  if (m_database) {
    try {
      m_database->Close();
    } catch (const CExportError&) {
      // Table changes are committed as they run; nothing is pending here.
    }
  }
  m_database.reset();
  m_engine.reset();
  m_source = nullptr;
}

long CDBStructureAdo::GetFieldValueLong(CSourceRecordset& recordset, int fieldIndex,
                                        long defaultValue) {
  if (fieldIndex < 0 || fieldIndex >= recordset.FieldCount() || recordset.IsEOF())
    return defaultValue;
  const CValue& value = recordset.FieldValue(fieldIndex);
  if (value.IsNull()) return defaultValue;
  try {
    return value.ToInt32();
  } catch (const CExportError&) {
    return defaultValue;
  }
}

std::string CTblSemiOpenOdbc::GetTableName(long surveyId, bool newLayout) {
  if (surveyId == -1) return std::string(kTargetSemiOpenTable);
  return SourceSemiOpenTableName(surveyId, newLayout);
}

}  // namespace zx
