#include "surveylib/survey_names.hpp"

#include <fmt/printf.h>

namespace zx {

std::string TargetResponseTableName(long tableNumber) {
  return fmt::sprintf("ORV Reponse%ld", tableNumber);
}

std::string LegacyResponseTableName(long surveyId, long tableNumber) {
  return fmt::sprintf("ORVResponse%ld_%ld", surveyId, tableNumber);
}

std::string NewLayoutDataTableName(long surveyId) {
  return fmt::sprintf("Orvix%04ldData", surveyId);
}

std::string NewLayoutInterviewTableName(long surveyId) {
  return fmt::sprintf("Orvix%04ldInterview", surveyId);
}

std::string SourceSemiOpenTableName(long surveyId, bool newLayout) {
  return newLayout ? fmt::sprintf("Orvix%04ldSemiOpen", surveyId)
                   : fmt::sprintf("ORVSemiOpen%ld", surveyId);
}

std::string Bracketed(std::string_view name) {
  std::string out = "[";
  out += name;
  out += ']';
  return out;
}

}  // namespace zx
