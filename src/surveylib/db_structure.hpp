#pragma once
// The response structure of a survey: rebuilding the target ZUV file's
// response tables and checking the source database's tables.
#include <cstdint>
#include <memory>
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
  // Drops every "ORV Reponse%ld" table and creates them for `questionnaire`.
  // False with m_errorText on failure.
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

  bool Open(bool readOnly);
  // Checks the source database holds the survey's legacy tables (see docs).
  bool ReadDataStructure(CQuestionnaire& questionnaire);
  static std::string GetResponseTableName(int tableNumber);  // "ORV Reponse%ld"
  bool IsExistingTable(const std::string& name);
  void Close();
  static long GetFieldValueLong(CSourceRecordset& recordset, int fieldIndex, long defaultValue);

  int32_t m_surveyId = 0;
  bool m_surveyFlag = false;

 protected:
  bool DeleteResponseStructure(int highestTableNumber) override;
  COrvixTableDef* CreateOrvixTableDef(const std::string& name, int keyCount,
                                      bool withOrder) override;
  bool CreateResponseTables(const CQuestionnaire& questionnaire, bool legacyLayout) override;

 private:
  std::string m_connectionText;
  std::unique_ptr<CZuvEngine> m_engine;
  std::unique_ptr<CZuvDatabase> m_database;           // on a ZUV file
  std::unique_ptr<CSourceConnection> m_source;        // on the source database
  std::unique_ptr<COrvixTableDef> m_lastTableDef;
};

class CTblSemiOpenOdbc {
 public:
  // -1: "ORV SemiOpen" (the ZUV file's); otherwise the source table of the
  // survey: "Orvix%04ldSemiOpen" for the new layout, "ORVSemiOpen%ld" for the legacy one.
  static std::string GetTableName(long surveyId, bool newLayout);
};

}  // namespace zx
