#pragma once
// The response structure of a survey: rebuilding the target ZUV file's
// response tables and checking the source database's tables.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace zx {

class CQuestionnaire;
class CSourceConnection;
class CSourceRecordset;
class CZuvDatabase;
class CZuvEngine;

class COrvixTableDef {
 public:
  std::string m_name;
};

class CDBStructureVirtual {
 public:
  virtual ~CDBStructureVirtual() = default;
  // Drops every "ORV Reponse%ld" table and creates them for `questionnaire`
  // (docs/zuv-format.md). Both layouts get the same tables: `legacyLayout`
  // only names the source the data will come from. False with m_errorText.
  virtual bool DeleteAndRecreateResponseStructure(const CQuestionnaire& questionnaire,
                                                  bool legacyLayout);
  std::string m_errorText;

 protected:
  virtual bool DeleteResponseStructure(int highestTableNumber) = 0;
  virtual COrvixTableDef* CreateOrvixTableDef(const std::string& name, int keyCount,
                                              bool withOrder) = 0;
  virtual bool CreateResponseTables(const CQuestionnaire& questionnaire, bool legacyLayout) = 0;
};

// On a ZUV file when the connection text names "data source=PATH", on the
// source database (ODBC) otherwise.
class CDBStructureAdo : public CDBStructureVirtual {
 public:
  explicit CDBStructureAdo(std::string connectionText);
  ~CDBStructureAdo() override;

  // The ZUV file named by "Provider=...;data source=PATH;" (the value may be
  // in double quotes); nullopt for any other text, which names a source database.
  static std::optional<std::string> ZuvPathOf(const std::string& connectionText);

  // Opens the ZUV file (exclusively when asked) or connects to the source
  // database (`exclusive` ignored). False with m_errorText.
  bool Open(bool exclusive);
  // On a source database: checks that it holds the tables of survey
  // m_surveyId for every response table the questionnaire's data use, in the
  // legacy layout ("ORVResponse%ld_%ld"), or in the new one
  // ("Orvix%04ldData" and "Orvix%04ldInterview") when m_surveyFlag is set.
  // On a ZUV file: checks that its [Questionnaire] table exists.
  // False with the questionnaire's m_errorText.
  bool ReadDataStructure(CQuestionnaire& questionnaire);
  static std::string GetResponseTableName(int tableNumber);  // "ORV Reponse%ld"
  bool IsExistingTable(const std::string& name);
  void Close();
  // The field as a 32-bit integer; `defaultValue` when it is NULL, does not
  // convert, or the recordset has no such field or no current row.
  static long GetFieldValueLong(CSourceRecordset& recordset, int fieldIndex, long defaultValue);

  int32_t m_surveyId = 0;
  bool m_surveyFlag = false;  // ReadDataStructure checks the new layout's tables

 protected:
  // Drops "ORV Reponse1".."ORV Reponse<highest>" and every other
  // "ORV Reponse<number>" table of the ZUV file.
  bool DeleteResponseStructure(int highestTableNumber) override;
  // A table with the keys Cle1..Cle<keyCount> (at least one), Ordre when
  // `withOrder`, and a unique index on the keys; nullptr with m_errorText.
  COrvixTableDef* CreateOrvixTableDef(const std::string& name, int keyCount,
                                      bool withOrder) override;
  bool CreateResponseTables(const CQuestionnaire& questionnaire, bool legacyLayout) override;

 private:
  std::string m_connectionText;
  std::unique_ptr<CZuvEngine> m_engine;
  std::unique_ptr<CZuvDatabase> m_database;     // on a ZUV file
  std::unique_ptr<CSourceConnection> m_source;  // on the source database
  std::unique_ptr<COrvixTableDef> m_lastTableDef;

  bool RequireZuv(const char* operation);
  bool SourceTableExists(const std::string& name);
};

class CTblSemiOpenOdbc {
 public:
  // -1: "ORV SemiOpen" (the ZUV file's); otherwise the source table of the
  // survey: "Orvix%04ldSemiOpen" for the new layout, "ORVSemiOpen%ld" for the legacy one.
  static std::string GetTableName(long surveyId, bool newLayout);
};

}  // namespace zx
