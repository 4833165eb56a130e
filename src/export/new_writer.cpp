#include "export/new_writer.hpp"

#include <fmt/format.h>
#include <fmt/printf.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "export/new_fill.hpp"
#include "export/write_tolerance.hpp"
#include "platform/error.hpp"
#include "platform/zuv/engine.hpp"
#include "surveylib/questionnaire.hpp"

namespace zx {

namespace {

constexpr int16_t kLoopElement = element_types::kLoop;
using question_types::kLoopOverAnswers;
using question_types::kLoopOverCount;
using question_types::kNumberedLoop;

[[noreturn]] void ThrowOrdersFile(const char* what) {
  throw CExportError(codes::kFileError, "CNewLayoutWriter",
                     std::string("The temporary file of loop orders could not be ") + what);
}

uint64_t ResponseKey(int32_t questionId, int32_t dataOrder) {
  return (uint64_t{static_cast<uint32_t>(questionId)} << 32) | static_cast<uint32_t>(dataOrder);
}

}  // namespace

int32_t* CNewLayoutWriter::FindLoopOrder(std::vector<int32_t>& records, int32_t loop,
                                         std::span<const int32_t> enclosing, int32_t value) {
  for (size_t i = 0; i + 3 < records.size();) {
    const auto depth = static_cast<size_t>(records[i + 2]);
    const size_t next = i + 3 + depth + 1;
    if (records[i] == loop && depth == enclosing.size() && records[next - 1] == value &&
        std::equal(enclosing.begin(), enclosing.end(), records.begin() + i + 3)) {
      return &records[i + 1];
    }
    i = next;
  }
  return nullptr;
}

CNewLayoutWriter::CNewLayoutWriter(const CQuestionnaire& questionnaire, Report info, Report error)
    : m_questionnaire(questionnaire), m_info(std::move(info)), m_error(std::move(error)) {}

void CNewLayoutWriter::BeginTable(CZuvRecordset& table, int32_t tableNumber,
                                  const std::vector<std::string>& emptyFields) {
  m_table = &table;
  m_tableNumber = tableNumber;
  m_namedFields.clear();
  m_responseFields.clear();
  m_emptyFieldPositions.clear();
  for (const std::string& name : emptyFields) {
    const int position = FieldPosition(name);
    if (position >= 0) m_emptyFieldPositions.push_back(position);
  }
  m_valueSetInRow.assign(static_cast<size_t>(table.FieldCount()), 0);
  m_rowNumber = 0;

  m_keepEveryLoopOrder = m_tableQuestionIds.empty();
  m_loopsNeededLater.clear();
  for (size_t later = static_cast<size_t>(std::max(tableNumber, 0));
       later < m_tableQuestionIds.size(); ++later) {
    for (const int32_t questionId : m_tableQuestionIds[later]) {
      const CQuestionInfo& info = Info(questionId);
      if (info.enclosingLoop != 0 && !info.numberedLoop) {
        m_loopsNeededLater.push_back(info.enclosingLoop);
      }
    }
  }
  std::sort(m_loopsNeededLater.begin(), m_loopsNeededLater.end());
  m_loopsNeededLater.erase(std::unique(m_loopsNeededLater.begin(), m_loopsNeededLater.end()),
                           m_loopsNeededLater.end());
  if (!m_keepEveryLoopOrder) {
    m_loopOrders.clear();
    m_ordersIn = std::move(m_ordersOut);
    if (m_ordersIn && std::fflush(m_ordersIn.get()) != 0) ThrowOrdersFile("written");
    if (m_ordersIn) std::rewind(m_ordersIn.get());
    m_ordersOut.reset(std::tmpfile());
    if (!m_ordersOut) ThrowOrdersFile("created");
    ReadIncoming();
  }
}

void CNewLayoutWriter::SetTableQuestions(std::vector<std::vector<int32_t>> tableQuestionIds) {
  m_tableQuestionIds = std::move(tableQuestionIds);
}

void CNewLayoutWriter::ReadIncoming() {
  m_hasIncoming = false;
  if (!m_ordersIn) return;
  int32_t head[2];
  const size_t got = std::fread(head, sizeof(int32_t), 2, m_ordersIn.get());
  if (got == 0 && std::feof(m_ordersIn.get())) return;
  if (got != 2 || head[1] < 0) ThrowOrdersFile("read");
  m_incoming.resize(static_cast<size_t>(head[1]));
  if (std::fread(m_incoming.data(), sizeof(int32_t), m_incoming.size(), m_ordersIn.get()) !=
      m_incoming.size()) {
    ThrowOrdersFile("read");
  }
  m_incomingId = head[0];
  m_hasIncoming = true;
}

void CNewLayoutWriter::WriteOutgoing(int32_t interviewId, const std::vector<int32_t>& records) {
  std::vector<int32_t> kept = {interviewId, 0};
  for (size_t i = 0; i + 3 < records.size();) {
    const size_t next = i + 3 + static_cast<size_t>(records[i + 2]) + 1;
    if (std::binary_search(m_loopsNeededLater.begin(), m_loopsNeededLater.end(), records[i])) {
      kept.insert(kept.end(), records.begin() + static_cast<ptrdiff_t>(i),
                  records.begin() + static_cast<ptrdiff_t>(next));
    }
    i = next;
  }
  if (kept.size() == 2) return;
  kept[1] = static_cast<int32_t>(kept.size() - 2);
  if (std::fwrite(kept.data(), sizeof(int32_t), kept.size(), m_ordersOut.get()) != kept.size()) {
    ThrowOrdersFile("written");
  }
}

void CNewLayoutWriter::CarryIncomingBefore(int32_t interviewId) {
  while (m_hasIncoming && m_incomingId < interviewId) {
    WriteOutgoing(m_incomingId, m_incoming);
    ReadIncoming();
  }
}

void CNewLayoutWriter::EndTable() {
  if (!m_keepEveryLoopOrder) {
    CarryIncomingBefore(INT32_MAX);
    if (m_hasIncoming) WriteOutgoing(m_incomingId, m_incoming);
    m_ordersIn.reset();
    m_hasIncoming = false;
  }
  m_table = nullptr;
  m_namedFields.clear();
  m_responseFields.clear();
  m_emptyFieldPositions.clear();
  m_valueSetInRow.clear();
}

void CNewLayoutWriter::SetResponseField(int position, CValue value) {
  m_valueSetInRow[static_cast<size_t>(position)] = value.IsNull() ? 0 : m_rowNumber;
  m_table->SetField(position, std::move(value));
}

const CNewLayoutWriter::CQuestionInfo& CNewLayoutWriter::Info(int32_t questionId) {
  auto [it, inserted] = m_questionInfo.try_emplace(questionId);
  CQuestionInfo& info = it->second;
  int index = -1;
  if (!inserted || !m_questionnaire.FindQuestionById(questionId, index)) return info;
  const CQuestion& question = m_questionnaire.GetQuestion(index);
  info.definesLoop = question.GetTypeElement() == kLoopElement;
  info.writeLoopValue = question.GetTypeQuestion() == kLoopOverAnswers ||
                        question.GetTypeQuestion() == kLoopOverCount;
  for (int current = index; m_questionnaire.GetQuestion(current).GetIndent() > 1;) {
    current = m_questionnaire.GetParentQuestion(current);
    if (current < 0) break;
    const CQuestion& parent = m_questionnaire.GetQuestion(current);
    if (parent.GetTypeElement() == kLoopElement) {
      info.enclosingLoop = parent.m_id;
      info.numberedLoop = parent.GetTypeQuestion() == kNumberedLoop;
      break;
    }
  }
  return info;
}

int CNewLayoutWriter::FieldPosition(const std::string& name) {
  auto [it, inserted] = m_namedFields.try_emplace(name, -1);
  if (inserted) {
    try {
      it->second = m_table->FieldIndex(name);
    } catch (const CExportError& e) {
      if (!e.IsMissingField()) throw;
    }
  }
  return it->second;
}

int CNewLayoutWriter::ResponsePosition(int32_t questionId, int32_t dataOrder) {
  auto [it, inserted] = m_responseFields.try_emplace(ResponseKey(questionId, dataOrder), -1);
  if (inserted) {
    try {
      it->second = m_table->FieldIndex(fmt::format("{};{}", questionId, dataOrder));
    } catch (const CExportError& e) {
      if (!e.IsMissingField()) throw;
    }
  }
  return it->second;
}

void CNewLayoutWriter::SetRequiredField(const std::string& name, CValue value) {
  const int position = FieldPosition(name);
  // An absent field fails by name, so the report carries the engine's own error.
  if (position < 0) {
    m_table->SetField(name, std::move(value));
  } else {
    m_table->SetField(position, std::move(value));
  }
}

bool CNewLayoutWriter::WriteBatch(NewLayoutBatch& batch) {
  for (const auto& [interviewId, interview] : batch.interviews) {
    m_path.clear();
    if (m_keepEveryLoopOrder) {
      if (!WriteNode(batch, interviewId, interview, interview)) return false;
      continue;
    }
    CarryIncomingBefore(interviewId);
    m_loopOrders.clear();
    if (m_hasIncoming && m_incomingId == interviewId) {
      m_loopOrders[interviewId] = std::move(m_incoming);
      ReadIncoming();
    }
    if (!WriteNode(batch, interviewId, interview, interview)) return false;
    // An interview is in one batch of each table: this table is done with its orders.
    if (auto records = m_loopOrders.find(interviewId); records != m_loopOrders.end()) {
      WriteOutgoing(interviewId, records->second);
    }
  }
  return true;
}

bool CNewLayoutWriter::WriteNode(NewLayoutBatch& batch, int32_t interviewId,
                                 const InterviewNode& interview, const InterviewNode& node) {
  // Own answers first: they may define the orders of the iterations below.
  if (!node.questions.empty() && !WriteRow(batch, interviewId, interview, node)) return false;
  for (const auto& [loopValue, child] : node.subLoops) {
    m_path.push_back(loopValue);
    const bool written = WriteNode(batch, interviewId, interview, child);
    m_path.pop_back();
    if (!written) return false;
  }
  return true;
}

void CNewLayoutWriter::RecordLoopOrders(const NewLayoutBatch& batch, int32_t interviewId,
                                        const InterviewNode& node) {
  const SourceRowLayout& layout = *batch.layout;
  for (const CQuestionEntry& entry : node.questions) {
    if (!Info(entry.questionId).definesLoop) continue;
    if (layout.closedData < 0) throw CMissingSourceColumn("ClosedData");
    const CValue& value = batch.Row(entry.row).At(layout.closedData);
    if (value.IsNull()) continue;
    const int32_t loopValue = value.ToInt32();
    std::vector<int32_t>& records = m_loopOrders[interviewId];
    if (int32_t* order = FindLoopOrder(records, entry.questionId, m_path, loopValue)) {
      *order = entry.dataOrder;
      continue;
    }
    records.push_back(entry.questionId);
    records.push_back(entry.dataOrder);
    records.push_back(static_cast<int32_t>(m_path.size()));
    records.insert(records.end(), m_path.begin(), m_path.end());
    records.push_back(loopValue);
  }
}

void CNewLayoutWriter::ReportUnknownOrder(int32_t interviewId, int32_t loopQuestion,
                                          int32_t loopValue) {
  if (m_unknownOrderReported) return;
  m_unknownOrderReported = true;
  m_info(fmt::format(
      "No order is stored for iteration {} of loop {} in interview {}: its Ordre is left empty "
      "(further such iterations are not reported)",
      loopValue, loopQuestion, interviewId));
}

bool CNewLayoutWriter::WriteRow(NewLayoutBatch& batch, int32_t interviewId,
                                const InterviewNode& interview, const InterviewNode& node) {
  const SourceRowLayout& layout = *batch.layout;
  const CQuestionEntry& reference = node.questions.front();
  const SourceRow referenceRow = batch.Row(reference.row);
  // lastColumn of the report, kept as numbers: formatted only on failure.
  bool hasLastColumn = false;
  int32_t lastQuestion = 0;
  int32_t lastDataOrder = 0;
  bool skippedColumn = false;
  try {
    RecordLoopOrders(batch, interviewId, node);
    m_table->AddNew();
    // Row numbers start at 1: 0 marks a field no row has set.
    if (++m_rowNumber == 0) {
      std::fill(m_valueSetInRow.begin(), m_valueSetInRow.end(), 0);
      m_rowNumber = 1;
    }
    static const std::string kKey1 = "Cle1";
    SetRequiredField(kKey1, CValue::FromInt32(interviewId));
    if (m_tableNumber == 1) {
      for (size_t i = 0; i < layout.interviewFields.size(); ++i) {
        SetRequiredField(layout.interviewFields[i].second, interview.interviewValues[i]);
      }
    }

    const CValue* lastLoopValue = nullptr;
    for (size_t level = 0; level < layout.loopIds.size(); ++level) {
      const CValue& loopValue = referenceRow.At(layout.loopIds[level]);
      if (loopValue.IsNull()) break;
      const int position = FieldPosition(fmt::format("Cle{}", level + 2));
      // The table is not that deep: the row has no place here.
      if (position < 0) return true;
      m_table->SetField(position, loopValue);
      lastLoopValue = &loopValue;
    }
    if (lastLoopValue != nullptr) {
      const CQuestionInfo& info = Info(reference.questionId);
      static const std::string kOrder = "Ordre";
      if (info.enclosingLoop != 0 && info.numberedLoop) {
        SetRequiredField(kOrder, *lastLoopValue);
      } else if (info.enclosingLoop != 0 && !m_path.empty()) {
        const int32_t* order = nullptr;
        if (auto records = m_loopOrders.find(interviewId); records != m_loopOrders.end()) {
          order = FindLoopOrder(records->second, info.enclosingLoop,
                                std::span<const int32_t>(m_path).first(m_path.size() - 1),
                                m_path.back());
        }
        if (order != nullptr) {
          SetRequiredField(kOrder, CValue::FromInt32(*order));
        } else {
          ReportUnknownOrder(interviewId, info.enclosingLoop, lastLoopValue->ToInt32());
        }
      }
    }

    const auto& entries = node.questions;
    for (size_t i = 0; i < entries.size();) {
      const int32_t questionId = entries[i].questionId;
      hasLastColumn = true;
      lastQuestion = questionId;
      lastDataOrder = 0;
      if (layout.duration < 0) throw CMissingSourceColumn("Duration");
      const int durationPosition = ResponsePosition(questionId, 0);
      if (durationPosition < 0) {
        skippedColumn = true;
      } else {
        SetResponseField(durationPosition, batch.Row(entries[i].row).At(layout.duration));
      }
      const CQuestionInfo& info = Info(questionId);
      for (; i < entries.size() && entries[i].questionId == questionId; ++i) {
        const CQuestionEntry& entry = entries[i];
        lastDataOrder = entry.dataOrder;
        CValue* values = batch.cells.Row(entry.row);
        if (layout.closedData < 0) throw CMissingSourceColumn("ClosedData");
        CValue* value = &values[layout.closedData];
        if (!value->IsNull()) {
          if (info.definesLoop && !info.writeLoopValue) continue;
        } else {
          if (layout.numericData < 0) throw CMissingSourceColumn("NumericData");
          value = &values[layout.numericData];
          if (value->IsNull()) {
            if (layout.openData < 0) throw CMissingSourceColumn("OpenData");
            value = &values[layout.openData];
            if (value->IsNull()) continue;
          }
        }
        const int position = ResponsePosition(questionId, entry.dataOrder);
        if (position < 0) {
          skippedColumn = true;
          continue;
        }
        // Each value is written once: the batch gives it up.
        SetResponseField(position, std::move(*value));
      }
    }
    for (const int position : m_emptyFieldPositions) {
      if (m_valueSetInRow[static_cast<size_t>(position)] != m_rowNumber) {
        m_table->SetField(position, CValue::FromInt32(EmptyResponseValue));
      }
    }

    try {
      m_table->Update();
    } catch (const CExportError& e) {
      if (!UpdateFailureDropsRow(e, skippedColumn, true)) throw;
    }
    return true;
  } catch (const CExportError& e) {
    const std::string lastColumn =
        hasLastColumn ? fmt::format("{};{}", lastQuestion, lastDataOrder) : std::string();
    const std::string loopFieldsReference =
        fmt::format("{};{}", reference.questionId, reference.dataOrder);
    m_error("Error while trying to write data in the target Zuv file");
    m_error(FormatErrorReport("CExporter::ExportFromSqlNew", e) + "\n");
    m_error(fmt::sprintf("Last column exported: %s\n", lastColumn));
    m_error(fmt::sprintf("Question refernce used for loop fields: %s\n", loopFieldsReference));
    return false;
  }
}

}  // namespace zx
