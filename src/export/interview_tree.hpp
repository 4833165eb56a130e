#pragma once
// The new-layout batch: the rows of one interview-id range indexed by
// interview, loop position, question and DataOrder.
//
// Rows are stored once, in the batch's `cells`, and only with the columns the
// writer reads; the tree refers to them by row number. All rows of a batch
// come from one query and share one column layout.
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/value.hpp"

namespace zx {

// Where each column the export uses sits, for every row of one query.
struct SourceRowLayout {
  // Positions in the query's fields; -1 when the query has no such column.
  // Of two fields with the same name the later one counts.
  int interviewId = -1;
  int questionId = -1;
  int dataOrder = -1;
  // Positions, in the query, of the columns each stored row keeps, in row order.
  std::vector<int> keptColumns;
  // Positions in a stored row; -1 when the query has no such column.
  std::vector<int> loopIds;  // LoopID1, LoopID2, ... up to the first absent one
  int closedData = -1;
  int numericData = -1;
  int openData = -1;
  int duration = -1;
  // The interview columns of the field map the query has: query position and
  // target field, in the map's order. Kept once per interview.
  std::vector<std::pair<int, std::string>> interviewFields;

  size_t RowWidth() const { return keptColumns.size(); }
};

// The stored values of one source row, read through the query's layout.
struct SourceRow {
  const SourceRowLayout* layout = nullptr;
  const CValue* values = nullptr;
  // REQUIRES: slot >= 0.
  const CValue& At(int slot) const { return values[slot]; }
};

// One stored value: the question, its DataOrder and the row that holds it.
struct CQuestionEntry {
  int32_t questionId = 0;
  int32_t dataOrder = 0;
  uint32_t row = 0;
};

struct InterviewNode {
  // Rows routed through this node went on to a deeper loop level. Kept for
  // the record: the writer writes a node's own answers and its sub-loops both.
  bool hasSubLoop = false;
  // The answers stored at this level, sorted by (question, DataOrder) once
  // the batch is complete; of two rows with the same key the later one wins.
  std::vector<CQuestionEntry> questions;
  std::map<int32_t, InterviewNode> subLoops;  // loop value -> node
  // Interview nodes of the first response table only: the interview fields,
  // in the order of the layout's interviewFields.
  std::vector<CValue> interviewValues;
};

// Rows of one width, stored in blocks of a fixed size: a batch grows without
// moving the rows it holds and never keeps room for twice its rows, so the
// memory of the batches in flight follows their rows, not their history.
class CRowCells {
 public:
  // Drops every row; the new ones have `width` cells each.
  void Reset(size_t width) {
    m_width = width;
    m_rowsPerBlock = std::max<size_t>(kBlockCells / std::max<size_t>(width, 1), 1);
    m_rows = 0;
    m_blocks.clear();
  }
  // A new row of NULLs at the end; its cells stay where they are.
  CValue* AppendRow() {
    if (m_rows % m_rowsPerBlock == 0) m_blocks.emplace_back(m_rowsPerBlock * m_width);
    return Row(static_cast<uint32_t>(m_rows++));
  }
  // REQUIRES: row < RowCount().
  CValue* Row(uint32_t row) {
    return m_blocks[row / m_rowsPerBlock].data() + (row % m_rowsPerBlock) * m_width;
  }
  const CValue* Row(uint32_t row) const { return const_cast<CRowCells*>(this)->Row(row); }
  size_t RowCount() const { return m_rows; }
  bool operator==(const CRowCells&) const = default;

 private:
  // About 80 KB a block: small next to a batch, large next to a row.
  static constexpr size_t kBlockCells = 2048;
  size_t m_width = 0;
  size_t m_rowsPerBlock = 1;
  size_t m_rows = 0;
  std::vector<std::vector<CValue>> m_blocks;
};

struct NewLayoutBatch {
  std::shared_ptr<const SourceRowLayout> layout;  // null while no row was read
  CRowCells cells;                                // the rows, layout->RowWidth() cells each
  std::map<int32_t, InterviewNode> interviews;    // by InterviewID

  SourceRow Row(uint32_t row) const { return SourceRow{layout.get(), cells.Row(row)}; }
};

// A column the export needs is absent from the source rows.
class CMissingSourceColumn : public std::runtime_error {
 public:
  explicit CMissingSourceColumn(const std::string& column)
      : std::runtime_error("The source rows have no column " + column), m_column(column) {}
  const std::string& Column() const noexcept { return m_column; }

 private:
  std::string m_column;
};

}  // namespace zx
