#include "export/settings.hpp"

#include <fmt/printf.h>

#include "platform/error.hpp"

namespace zx {

const std::optional<CCalendarDate>& CheckedStartBound(const std::optional<CCalendarDate>& bound,
                                                      const std::string& text) {
  if (!text.empty() && !bound) {
    throw CExportError(codes::kInvalidArgument, "CExporter",
                       fmt::sprintf("Invalid date '%s', expected dd/mm/yyyy", text));
  }
  return bound;
}

}  // namespace zx
