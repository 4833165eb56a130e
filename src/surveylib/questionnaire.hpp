#pragma once
// The questionnaire model of a ZUV file, read from its [Questionnaire] table.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace zx {

enum DataBaseType { DATABASE_ZUV = 0 };

class CQuestion {
 public:
  int32_t m_id = 0;             // CodeQuestion
  int32_t m_position = 0;
  int16_t m_indent = 1;
  int16_t m_typeElement = 1;    // 1 question, 2 loop, 3 text block
  int16_t m_typeQuestion = 0;
  int32_t m_nbMaxReponse = 1;
  int16_t m_dataFlag = 0;
  int32_t m_dataCount = 0;
  int16_t m_tableNumber = 0;    // NroTableReponse
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

  // Loads the questionnaire of the ZUV file at `path` (see docs/zuv-format.md
  // for the flags). False on failure with m_errorCode and m_errorText set:
  // codes up to 8 are failures, above 8 warnings the model is usable with.
  bool Read(const std::string& path, bool readQuestions, bool readResponses, bool readTexts,
            bool checkStructure, bool readOnly, DataBaseType type, long languageId,
            bool loadDataFlags);
  bool VerifyDataEntryStructures(const std::string& path, DataBaseType type);
  // Builds the lookup indexes; call after Read.
  void PreparerSaisie();

  int GetNbreQuestion() const { return static_cast<int>(m_questions.size()); }
  CQuestion* GetAdrQuestion(int index);
  bool FindQuestionById(int32_t id, const CQuestion*& question) const;
  bool FindQuestionById(int32_t id, int& index) const;
  const CQuestion& GetQuestion(int index) const;
  // Index of the nearest earlier question with a smaller indent; -1 at top level.
  int GetParentQuestion(int index) const;

  std::string m_errorText;
  int16_t m_errorCode = 0;

 private:
  std::vector<CQuestion> m_questions;  // by Position
  std::unordered_map<int32_t, int> m_indexById;
  std::vector<int> m_parent;
};

}  // namespace zx
