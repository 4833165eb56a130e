#pragma once
// The survey zuvsample writes: a questionnaire and interviews drawn from a
// seeded generator. Interviews are produced one at a time, each from its own
// seed, so every writer sees the same answers without holding them all.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/value.hpp"

namespace zx::sample {

struct CSampleOptions {
  std::string outDir = ".";
  int32_t surveyId = 7;
  int64_t interviews = 200;
  int questions = 30;  // questions carrying data, loops not counted
  double multipleShare = 0.25;
  double numericShare = 0.15;
  double openShare = 0.15;
  int loops = 1;
  int nestedLoops = 0;
  double splitShare = 0.25;  // of the top-level multiple-choice questions
  int tables = 2;            // response tables of the top-level questions
  // The last part of one split question goes to a table after all others,
  // leaving the table between without any question.
  bool orphanTable = false;
  int semiOpen = 5;
  double completeShare = 0.8;
  std::string startDate = "2014-01-01";
  int days = 365;
  bool sparseIds = false;
  double nullShare = 0.05;
  uint64_t seed = 1;
  std::string sqlScript;
  bool writeLegacy = true;
  bool writeNew = true;
};

struct CTokenRange {
  int table;
  int32_t first, last;
};

// One row of [Questionnaire].
struct CElement {
  int32_t code = 0;
  int32_t position = 0;
  int16_t indent = 1;
  int16_t typeElement = 1;
  int16_t typeQuestion = 1;
  int32_t nbMaxReponse = 1;
  int16_t tableNumber = 0;
  std::string additionalTables;
  int16_t dataFlag = 0;
  std::string libelle;
  int loopDepth = 0;                // enclosing loops
  int choiceCount = 0;              // codes 1..choiceCount of a choice question
  std::vector<CTokenRange> ranges;  // of AdditionalTables
};

// Where the fields of a question (or a DataOrder range of it) live.
struct CFieldRange {
  int32_t code;
  int16_t typeElement;
  int16_t typeQuestion;
  int32_t first;
  int32_t last;
};

struct CResponseTable {
  int number = 0;
  int depth = 0;  // loop levels of its rows: keys Cle1..Cle(depth+1)
  std::vector<CFieldRange> fields;
};

// One value of the new layout's data table.
struct CDataRow {
  int32_t question = 0;
  int32_t dataOrder = 0;
  std::optional<int32_t> loop1, loop2;
  CValue closed, numeric, open, duration;
  int table = 0;
  int32_t order = 0;  // the iteration's position, for the legacy Ordre
};

struct CInterview {
  int32_t id = 0;
  std::vector<CValue> fields;  // in kInterviewFields order
  std::vector<CDataRow> rows;
};

class CSampleSurvey {
 public:
  explicit CSampleSurvey(const CSampleOptions& options);

  const std::vector<CElement>& Elements() const { return m_elements; }
  const std::vector<CResponseTable>& Tables() const { return m_tables; }
  int64_t InterviewCount() const { return m_options.interviews; }
  // REQUIRES: 0 <= index < InterviewCount(). Ids rise with the index.
  CInterview Interview(int64_t index);

  struct CSemiOpen {
    int32_t code, question;
    std::string libelle;
    int32_t regroupement, ordre, citations;
    std::string created, author;
  };
  const std::vector<CSemiOpen>& SemiOpens() const { return m_semiOpens; }

 private:
  void BuildQuestionnaire();
  void BuildTables();
  bool IsLoopBase(int element) const;
  int TableOf(const CElement& element, int32_t dataOrder) const;

  const CSampleOptions& m_options;
  std::vector<int> m_topQuestions;
  std::unordered_map<int, int> m_loopBases;  // loop element -> the question it iterates over, or -1
  std::vector<CElement> m_elements;
  std::vector<CResponseTable> m_tables;
  std::vector<CSemiOpen> m_semiOpens;
  int64_t m_startSeconds = 0;  // of --start-date, since 1970
};

// "YYYY-MM-DD HH:MM:SS" for seconds since 1970 (UTC, proleptic Gregorian).
std::string FormatSeconds(int64_t seconds);
// Seconds since 1970 of a "YYYY-MM-DD" text, or nullopt.
std::optional<int64_t> ParseIsoDate(const std::string& text);

}  // namespace zx::sample
