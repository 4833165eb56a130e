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

// Either on a ZUV file, which it opens itself, or on the source database,
// through a connection its caller opened and keeps.
class CDBStructureAdo : public CDBStructureVirtual {
 public:
  // On the ZUV file at `zuvPath`.
  static CDBStructureAdo OnZuvFile(std::string zuvPath);
  // On the source database reached through `source`, which must outlive
  // this object; nothing here closes it.
  static CDBStructureAdo OnSourceDatabase(CSourceConnection& source);
  ~CDBStructureAdo() override;
  CDBStructureAdo(const CDBStructureAdo&) = delete;
  CDBStructureAdo& operator=(const CDBStructureAdo&) = delete;

  // Opens the ZUV file (exclusively when asked); on the source database it
  // only starts using the caller's connection. False with m_errorText.
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

  // Drops "ORV Reponse1".."ORV Reponse<highest>" and every other
  // "ORV Reponse<number>" table of the ZUV file.
  bool DeleteResponseStructure(int highestTableNumber) override;
  // A table with the keys Cle1..Cle<keyCount> (at least one), Ordre when
  // `withOrder`, and a unique index on the keys; nullptr with m_errorText.
  COrvixTableDef* CreateOrvixTableDef(const std::string& name, int keyCount,
                                      bool withOrder) override;

  int32_t m_surveyId = 0;
  bool m_surveyFlag = false;  // ReadDataStructure checks the new layout's tables

 protected:
  bool CreateResponseTables(const CQuestionnaire& questionnaire, bool legacyLayout) override;

 private:
  CDBStructureAdo(std::string zuvPath, CSourceConnection* givenSource);

  std::string m_zuvPath;                       // empty on the source database
  CSourceConnection* m_givenSource = nullptr;  // the caller's, on the source database
  std::unique_ptr<CZuvEngine> m_engine;
  std::unique_ptr<CZuvDatabase> m_database;  // while open on a ZUV file
  CSourceConnection* m_source = nullptr;     // while open on the source database
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
