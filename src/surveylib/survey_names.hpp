#pragma once
// The names and codes a survey's tables are written with: the source
// database's tables (both layouts), the target file's response and semi-open
// tables, and the TypeElement and TypeQuestion codes. Everything that forms
// one of these names uses this header.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zx {

// TypeElement codes.
namespace element_types {
inline constexpr int16_t kQuestion = 1;
inline constexpr int16_t kLoop = 2;
inline constexpr int16_t kTextBlock = 3;
}  // namespace element_types

// TypeQuestion codes: of a question, its kind of answer; of a loop, what it
// iterates over.
namespace question_types {
inline constexpr int16_t kSingleChoice = 1;
inline constexpr int16_t kMultipleChoice = 2;
inline constexpr int16_t kNumeric = 3;
inline constexpr int16_t kOpen = 4;
inline constexpr int16_t kDate = 5;
inline constexpr int16_t kLoopOverAnswers = 2;  // the answers of a multiple choice
inline constexpr int16_t kLoopOverCount = 3;
inline constexpr int16_t kNumberedLoop = 4;
}  // namespace question_types

// The semi-open answers' table in a ZUV file; the columns of every
// semi-open table, in order, and the three the export addresses by name.
inline constexpr std::string_view kTargetSemiOpenTable = "ORV SemiOpen";
inline constexpr std::array<std::string_view, 8> kSemiOpenColumns{
    "CodeReponseSO", "CodeQuestion", "LibelleSO",    "CodeRegroupement",
    "Ordre",         "NbCitations",  "DateCreation", "Auteur"};
inline constexpr std::string_view kSemiOpenAnswerColumn = kSemiOpenColumns[0];
inline constexpr std::string_view kSemiOpenQuestionColumn = kSemiOpenColumns[1];
inline constexpr std::string_view kSemiOpenCaptionColumn = kSemiOpenColumns[2];

// Unbracketed names; SQL text brackets them with Bracketed.
std::string TargetResponseTableName(long tableNumber);                 // "ORV Reponse<n>"
std::string LegacyResponseTableName(long surveyId, long tableNumber);  // "ORVResponse<id>_<n>"
std::string NewLayoutDataTableName(long surveyId);                     // "Orvix<id:04>Data"
std::string NewLayoutInterviewTableName(long surveyId);                // "Orvix<id:04>Interview"
std::string SourceSemiOpenTableName(long surveyId, bool newLayout);

// "[name]". The names above hold no "]".
std::string Bracketed(std::string_view name);

}  // namespace zx
