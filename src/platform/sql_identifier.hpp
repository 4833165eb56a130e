#pragma once
// SQL identifiers written into statements by this program.
#include <string>
#include <string_view>

namespace zx {

// Identifiers are always double-quoted with quotes doubled, whatever they
// hold, so no name can end the identifier early.
std::string QuoteIdentifier(std::string_view name);

}  // namespace zx
