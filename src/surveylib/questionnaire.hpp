#pragma once
// The questionnaire model of a ZUV file, read from its [Questionnaire] table.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "surveylib/survey_names.hpp"

namespace zx {

enum DataBaseType { DATABASE_ZUV = 0 };

// m_errorCode values of CQuestionnaire::Read. Up to kLastFailure the model is
// unusable; above it Read returns false but the model is complete.
namespace questionnaire_errors {
inline constexpr int16_t kNone = 0;
inline constexpr int16_t kFileMissing = 1;
inline constexpr int16_t kNotAZuvFile = 2;
inline constexpr int16_t kNoQuestionnaireTable = 3;
inline constexpr int16_t kMissingColumn = 4;
inline constexpr int16_t kDuplicate = 5;            // Position or CodeQuestion
inline constexpr int16_t kBadAdditionalTables = 6;  // not given: AdditionalTables is never refused
inline constexpr int16_t kUnsupportedType = 7;      // DataBaseType other than DATABASE_ZUV
inline constexpr int16_t kBadValue = 8;             // NULL, non-integer or out-of-range value
inline constexpr int16_t kLastFailure = 8;
inline constexpr int16_t kDataWithoutTable = 9;  // carries data, no response table
inline constexpr int16_t kInconsistentIndent = 10;
inline constexpr int16_t kNoSemiOpenTable = 11;  // VerifyDataEntryStructures
}  // namespace questionnaire_errors

class CQuestion {
 public:
  int32_t m_id = 0;  // CodeQuestion
  int32_t m_position = 0;
  int16_t m_indent = 1;
  int16_t m_typeElement = element_types::kQuestion;
  int16_t m_typeQuestion = 0;
  int32_t m_nbMaxReponse = 1;
  int16_t m_dataFlag = 0;
  int32_t m_dataCount = 0;
  int16_t m_tableNumber = 0;  // NroTableReponse
  std::string m_additionalTables;
  std::string m_libelle;

  int16_t GetIndent() const { return m_indent; }
  int16_t GetTypeElement() const { return m_typeElement; }
  int16_t GetTypeQuestion() const { return m_typeQuestion; }
  bool CarriesData() const { return m_dataFlag != 0 || m_dataCount != 0; }
};

class CQuestionnaire {
 public:
  CQuestionnaire() = default;

  // Loads the questionnaire of the ZUV file at `path`, replacing the model
  // (docs/zuv-format.md gives the flags). False with m_errorCode and
  // m_errorText set: codes up to 8 are failures and leave the model empty;
  // above 8 they are warnings about a complete, usable model.
  bool Read(const std::string& path, bool readQuestions, bool readResponses, bool readTexts,
            bool checkStructure, bool exclusive, DataBaseType type, long languageId,
            bool readDataFlags);
  // Checks that the file at `path` can take the export's data: its
  // "ORV SemiOpen" table has the eight columns. False with code 11 otherwise.
  bool VerifyDataEntryStructures(const std::string& path, DataBaseType type);
  // Builds the lookup indexes (Read already does); idempotent.
  void PreparerSaisie();

  int GetNbreQuestion() const { return static_cast<int>(m_questions.size()); }
  CQuestion* GetAdrQuestion(int index);  // nullptr for a bad index
  bool FindQuestionById(int32_t id, const CQuestion*& question) const;
  bool FindQuestionById(int32_t id, int& index) const;
  // REQUIRES: 0 <= index < GetNbreQuestion(); otherwise throws std::out_of_range.
  const CQuestion& GetQuestion(int index) const;
  // Index of the nearest earlier element with a smaller indent that is not a
  // text block; -1 at top level or for a bad index.
  int GetParentQuestion(int index) const;
  // Enclosing loops (TypeElement 2 ancestors) of the element at `index`.
  int GetLoopDepth(int index) const;
  long GetLanguageId() const { return m_languageId; }

  std::string m_errorText;
  int16_t m_errorCode = 0;

 private:
  std::vector<CQuestion> m_questions;  // by Position
  std::unordered_map<int32_t, int> m_indexById;
  std::vector<int> m_parent;
  long m_languageId = 0;

  bool Fail(int16_t code, std::string text);
  void Warn(int16_t code, std::string text);
  bool CheckStructure(const std::string& path);
};

// The highest response table the questions that carry data use, by their
// NroTableReponse or an AdditionalTables token; 0 when none does. Every table
// from 1 to it exists in a target, even one that holds no question.
int32_t HighestResponseTable(const CQuestionnaire& questionnaire);

}  // namespace zx
