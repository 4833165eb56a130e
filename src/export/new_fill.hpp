#pragma once
// The end of a new-layout export: empty response fields of single-choice
// questions get EmptyResponseValue.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "export/settings.hpp"
#include "platform/zuv/engine.hpp"

namespace zx {

inline constexpr int EmptyResponseValue = -2;

// Question id -> the lowest and highest response index the table has a field for.
using FieldIndexRanges = std::map<int32_t, std::pair<int32_t, int32_t>>;

// The UPDATE statements for the type-1 questions of table `tableNumber`, one
// per field, in list order. With `existing`, indexes outside the fields the
// table has are left out: their statements would fail and be skipped anyway,
// and a corrupt NbMaxReponse must not become billions of statements.
std::vector<std::string> BuildFillStatements(int32_t tableNumber,
                                             const std::vector<TableQuestion>& questions,
                                             const FieldIndexRanges* existing = nullptr);

// Reports "Filling empty fields..." through `info` and runs every
// table's statements; a statement naming a field the table lacks is skipped.
// Throws CExportError for any other failure, or for a maxResponses that is not
// an integer.
void FillEmptyFields(CZuvDatabase& target,
                     const std::vector<std::vector<TableQuestion>>& tableQuestions,
                     const std::function<void(const std::string&)>& info);

// How one table's empty single-choice fields get EmptyResponseValue. A field
// without DEFAULT is NULL when a row leaves it unset, so the writer stores
// the value with each row it adds: no second pass over the table. A field
// with a DEFAULT is filled afterwards, by one statement for the table.
struct CTableFill {
  bool planned = false;  // false: filled afterwards as FillEmptyFields does
  std::vector<std::string> onInsert;
  std::vector<std::string> afterwards;
};

// The plan for table `tableNumber`, whose fields are `columns`. Never throws:
// what cannot be planned (a maxResponses that is not an integer) is left to
// the fill afterwards, which fails as it always has.
CTableFill PlanTableFill(const std::vector<TableQuestion>& questions,
                         const std::vector<CZuvDatabase::CColumn>& columns);

// FillEmptyFields for the fields `plans` leave (a missing plan: the whole table).
void FillEmptyFields(CZuvDatabase& target,
                     const std::vector<std::vector<TableQuestion>>& tableQuestions,
                     const std::vector<CTableFill>& plans,
                     const std::function<void(const std::string&)>& info);

}  // namespace zx
