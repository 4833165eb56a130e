#pragma once
// The new-layout batch: the rows of one interview-id range indexed by
// interview, loop position, question and DataOrder.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/value.hpp"

namespace zx {

// Every field of one source row. The column names are shared by all rows of
// one query, so a row keeps only its values.
struct SourceRowLayout {
  std::vector<std::string> names;
  std::unordered_map<std::string, int> index;  // name -> position; the later of two equal names wins
};
struct SourceRow {
  std::shared_ptr<const SourceRowLayout> layout;
  std::vector<CValue> values;
  // nullptr when the row has no column of that name.
  const CValue* Find(const std::string& name) const;
};

struct InterviewNode {
  bool hasSubLoop = false;
  std::unordered_map<int32_t, std::map<int32_t, SourceRow>> questions;  // QuestionID -> DataOrder -> row
  std::unordered_map<int32_t, InterviewNode> subLoops;                   // loop value -> node
};

struct NewLayoutBatch {
  std::unordered_map<int32_t, InterviewNode> interviews;
};

}  // namespace zx
