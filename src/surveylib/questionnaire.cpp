#include "surveylib/questionnaire.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <unordered_set>

#include "platform/error.hpp"
#include "platform/paths.hpp"
#include "platform/text.hpp"
#include "platform/zuv/engine.hpp"

namespace zx {
namespace errors = questionnaire_errors;

namespace {

// Digits only, at least one, value within int32.
bool ReadPlainInt(std::string_view text, int32_t& value) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  const int64_t v = std::stoll(std::string(text));
  if (v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

// Why the AdditionalTables text is not a list of "T:a,b" tokens (T from 1 to
// 32767, 1 <= a <= b); empty when it is.
std::string AdditionalTablesFault(std::string_view text) {
  for (std::string_view token : SplitTokens(text, ';')) {
    const size_t colon = token.find(':');
    const size_t comma = token.find(',', colon == std::string_view::npos ? 0 : colon);
    int32_t table = 0, first = 0, last = 0;
    if (colon == std::string_view::npos || comma == std::string_view::npos ||
        !ReadPlainInt(token.substr(0, colon), table) ||
        !ReadPlainInt(token.substr(colon + 1, comma - colon - 1), first) ||
        !ReadPlainInt(token.substr(comma + 1), last))
      return fmt::format("token '{}' is not of the form T:first,last", token);
    if (table < 1 || table > INT16_MAX)
      return fmt::format("token '{}' names table {}, outside 1..{}", token, table, INT16_MAX);
    if (first < 1 || first > last)
      return fmt::format("token '{}' has an empty or invalid DataOrder range", token);
  }
  return {};
}

}  // namespace

bool CQuestionnaire::Fail(int16_t code, std::string text) {
  m_questions.clear();
  m_indexById.clear();
  m_parent.clear();
  m_errorCode = code;
  m_errorText = std::move(text);
  return false;
}

void CQuestionnaire::Warn(int16_t code, std::string text) {
  // The first warning gives the code; the text lists them all.
  if (m_errorCode == errors::kNone) m_errorCode = code;
  if (!m_errorText.empty()) m_errorText += '\n';
  m_errorText += text;
}

bool CQuestionnaire::Read(const std::string& path, bool readQuestions, bool readResponses,
                          bool readTexts, bool checkStructure, bool exclusive, DataBaseType type,
                          long languageId, bool readDataFlags) {
  m_errorCode = errors::kNone;
  m_errorText.clear();
  m_questions.clear();
  m_languageId = languageId;
  if (type != DATABASE_ZUV)
    return Fail(errors::kUnsupportedType,
                fmt::format("Unsupported database type {} for the questionnaire file {}",
                            static_cast<int>(type), path));
  std::error_code ec;
  if (!std::filesystem::exists(PathFromUtf8(path), ec))
    return Fail(errors::kFileMissing,
                fmt::format("The questionnaire file {} does not exist", path));

  CZuvEngine engine;
  std::unique_ptr<CZuvDatabase> db;
  try {
    db = engine.OpenDatabase(path, exclusive);
    if (!db->TableExists("Questionnaire"))
      return Fail(errors::kNoQuestionnaireTable,
                  fmt::format("The file {} has no [Questionnaire] table", path));
  } catch (const CExportError& e) {
    if (e.Code() == codes::kFileNotFound)
      return Fail(errors::kFileMissing,
                  fmt::format("The questionnaire file {} does not exist", path));
    return Fail(errors::kNotAZuvFile,
                fmt::format("The file {} is not a ZUV file: {}", path, e.Description()));
  }
  if (!readQuestions) return true;

  std::vector<std::string> wanted = {"CodeQuestion", "Position", "Indent", "TypeElement",
                                     "TypeQuestion"};
  if (readResponses)
    wanted.insert(wanted.end(), {"NbMaxReponse", "NroTableReponse", "AdditionalTables"});
  if (readDataFlags) wanted.insert(wanted.end(), {"DataFlag", "DataCount"});
  if (readTexts) wanted.push_back("Libelle");

  try {
    const auto columns = db->Columns("Questionnaire");
    for (const std::string& name : wanted) {
      if (std::none_of(columns.begin(), columns.end(), [&](const CZuvDatabase::CColumn& c) {
            return EqualsIgnoringAsciiCase(c.name, name);
          }))
        return Fail(errors::kMissingColumn,
                    fmt::format("The [Questionnaire] table of {} has no column {}", path, name));
    }
    std::string select;
    for (const std::string& name : wanted) select += (select.empty() ? "" : ", ") + name;
    auto rs = db->OpenRecordset("SELECT " + select + " FROM [Questionnaire] ORDER BY Position");
    std::unordered_set<int32_t> positions;
    for (; !rs->IsEOF(); rs->MoveNext()) {
      CQuestion q;
      std::string column;
      // The first invalid value names the column; the rest of the row is not read.
      bool valid = true;
      auto integer = [&](const char* name, int64_t low, int64_t high) -> int32_t {
        if (!valid) return 0;
        column = name;
        const CValue v = rs->GetField(std::string_view(name));
        int32_t n = 0;
        try {
          n = v.ToInt32();
        } catch (const CExportError&) {
          valid = false;
          return 0;
        }
        if (n < low || n > high) valid = false;
        return valid ? n : 0;
      };
      q.m_id = integer("CodeQuestion", INT32_MIN, INT32_MAX);
      q.m_position = integer("Position", INT32_MIN, INT32_MAX);
      q.m_indent = static_cast<int16_t>(integer("Indent", 1, INT16_MAX));
      q.m_typeElement = static_cast<int16_t>(
          integer("TypeElement", element_types::kQuestion, element_types::kTextBlock));
      q.m_typeQuestion = static_cast<int16_t>(integer("TypeQuestion", INT16_MIN, INT16_MAX));
      if (readResponses) {
        q.m_nbMaxReponse = integer("NbMaxReponse", 0, INT32_MAX);
        q.m_tableNumber = static_cast<int16_t>(integer("NroTableReponse", 0, INT16_MAX));
        if (valid) {
          column = "AdditionalTables";
          const CValue v = rs->GetField(std::string_view("AdditionalTables"));
          if (v.IsNull())
            valid = false;
          else
            q.m_additionalTables = v.ToText();
        }
      }
      if (readDataFlags) {
        q.m_dataFlag = static_cast<int16_t>(integer("DataFlag", INT16_MIN, INT16_MAX));
        q.m_dataCount = integer("DataCount", INT32_MIN, INT32_MAX);
      }
      if (!valid) {
        return Fail(errors::kBadValue,
                    fmt::format("The [Questionnaire] table of {} holds an invalid {} in the row "
                                "at position {}",
                                path, column, static_cast<int>(m_questions.size()) + 1));
      }
      if (readTexts) {
        const CValue v = rs->GetField(std::string_view("Libelle"));
        if (!v.IsNull()) q.m_libelle = v.ToText();
      }
      if (!positions.insert(q.m_position).second)
        return Fail(errors::kDuplicate,
                    fmt::format("The [Questionnaire] table of {} has two rows at position {}", path,
                                q.m_position));
      if (const std::string fault = AdditionalTablesFault(q.m_additionalTables); !fault.empty())
        return Fail(errors::kBadAdditionalTables,
                    fmt::format("Question {} of {} has a malformed AdditionalTables text '{}': {}",
                                q.m_id, path, q.m_additionalTables, fault));
      m_questions.push_back(std::move(q));
    }
    rs->Close();
  } catch (const CExportError& e) {
    return Fail(
        errors::kNotAZuvFile,
        fmt::format("The [Questionnaire] table of {} cannot be read: {}", path, e.Description()));
  }

  std::unordered_set<int32_t> ids;
  for (const CQuestion& q : m_questions)
    if (!ids.insert(q.m_id).second)
      return Fail(errors::kDuplicate,
                  fmt::format("The [Questionnaire] table of {} has two rows with CodeQuestion {}",
                              path, q.m_id));
  PreparerSaisie();
  if (checkStructure) return CheckStructure(path);
  return true;
}

bool CQuestionnaire::CheckStructure(const std::string& path) {
  for (int i = 0; i < GetNbreQuestion(); ++i) {
    const CQuestion& q = m_questions[static_cast<size_t>(i)];
    if (q.CarriesData() && q.m_tableNumber == 0 && q.m_additionalTables.empty())
      Warn(questionnaire_errors::kDataWithoutTable,
           fmt::format("Question {} of {} carries data but has no response table "
                       "(NroTableReponse 0): its answers are not exported",
                       q.m_id, path));
    const int parent = m_parent[static_cast<size_t>(i)];
    const int parentIndent = parent < 0 ? 0 : m_questions[static_cast<size_t>(parent)].m_indent;
    if (q.m_indent > parentIndent + 1 ||
        (parent >= 0 &&
         m_questions[static_cast<size_t>(parent)].m_typeElement != element_types::kLoop))
      Warn(questionnaire_errors::kInconsistentIndent,
           fmt::format("Question {} of {} has indent {} but is not directly inside a loop", q.m_id,
                       path, q.m_indent));
  }
  return m_errorCode == errors::kNone;
}

bool CQuestionnaire::VerifyDataEntryStructures(const std::string& path, DataBaseType type) {
  if (type != DATABASE_ZUV) {
    m_errorCode = errors::kUnsupportedType;
    m_errorText = fmt::format("Unsupported database type {} for {}", static_cast<int>(type), path);
    return false;
  }
  try {
    CZuvEngine engine;
    auto db = engine.OpenDatabase(path);
    std::string problem;
    const std::string table(kTargetSemiOpenTable);
    if (!db->TableExists(table)) {
      problem = fmt::format("has no [{}] table", table);
    } else {
      const auto columns = db->Columns(table);
      for (std::string_view name : kSemiOpenColumns)
        if (std::none_of(columns.begin(), columns.end(), [&](const CZuvDatabase::CColumn& c) {
              return EqualsIgnoringAsciiCase(c.name, name);
            })) {
          problem = fmt::format("has no column {} in its [{}] table", name, table);
          break;
        }
    }
    if (problem.empty()) return true;
    m_errorCode = errors::kNoSemiOpenTable;
    m_errorText = fmt::format("The file {} {}", path, problem);
  } catch (const CExportError& e) {
    m_errorCode = errors::kNotAZuvFile;
    m_errorText = fmt::format("The file {} cannot be checked: {}", path, e.Description());
  }
  return false;
}

void CQuestionnaire::PreparerSaisie() {
  m_indexById.clear();
  m_parent.assign(m_questions.size(), -1);
  // Candidates for a parent: the enclosing elements so far, by rising indent.
  std::vector<int> open;
  for (int i = 0; i < GetNbreQuestion(); ++i) {
    const CQuestion& q = m_questions[static_cast<size_t>(i)];
    m_indexById.emplace(q.m_id, i);
    while (!open.empty() && m_questions[static_cast<size_t>(open.back())].m_indent >= q.m_indent)
      open.pop_back();
    m_parent[static_cast<size_t>(i)] = open.empty() ? -1 : open.back();
    // A text block holds nothing, so it never encloses what follows it.
    if (q.m_typeElement != element_types::kTextBlock) open.push_back(i);
  }
}

CQuestion* CQuestionnaire::GetAdrQuestion(int index) {
  if (index < 0 || index >= GetNbreQuestion()) return nullptr;
  return &m_questions[static_cast<size_t>(index)];
}

bool CQuestionnaire::FindQuestionById(int32_t id, const CQuestion*& question) const {
  int index = -1;
  if (!FindQuestionById(id, index)) return false;
  question = &m_questions[static_cast<size_t>(index)];
  return true;
}

bool CQuestionnaire::FindQuestionById(int32_t id, int& index) const {
  const auto it = m_indexById.find(id);
  if (it == m_indexById.end()) return false;
  index = it->second;
  return true;
}

const CQuestion& CQuestionnaire::GetQuestion(int index) const {
  if (index < 0 || index >= GetNbreQuestion())
    throw std::out_of_range(fmt::format("no question at index {}", index));
  return m_questions[static_cast<size_t>(index)];
}

int CQuestionnaire::GetParentQuestion(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_parent.size()) return -1;
  return m_parent[static_cast<size_t>(index)];
}

int CQuestionnaire::GetLoopDepth(int index) const {
  int depth = 0;
  for (int p = GetParentQuestion(index); p >= 0; p = GetParentQuestion(p))
    if (m_questions[static_cast<size_t>(p)].m_typeElement == element_types::kLoop) ++depth;
  return depth;
}

int32_t HighestResponseTable(const CQuestionnaire& questionnaire) {
  int32_t highest = 0;
  for (int i = 0; i < questionnaire.GetNbreQuestion(); ++i) {
    const CQuestion& q = questionnaire.GetQuestion(i);
    if (!q.CarriesData()) continue;
    highest = std::max<int32_t>(highest, q.m_tableNumber);
    // Read rejects a token beyond the 16-bit table numbers; a model filled
    // otherwise must not size an export by one either.
    for (const CAdditionalTableToken& token : ParseAdditionalTables(q.m_additionalTables))
      if (token.tableNumber <= INT16_MAX) highest = std::max(highest, token.tableNumber);
  }
  return highest;
}

}  // namespace zx
