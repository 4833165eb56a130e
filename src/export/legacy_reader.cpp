// The read thread of a legacy-layout export: one "ORVResponse%ld_%ld" query
// per response table, its columns mapped onto target names, rows handed to the
// writer in batches.
#include <fmt/printf.h>

#include <string_view>

#include "export/exporter.hpp"
#include "platform/error.hpp"
#include "platform/text.hpp"
#include "surveylib/survey_names.hpp"

namespace zx {
namespace {

struct CColumnMapping {
  std::vector<int> carriedFields;        // source field positions, in field order
  std::vector<std::string> targetNames;  // one per carried field
};

// "Q<question>_<index>" becomes "<question>;<index>" when the table lists the
// question with enough responses and the question carries data; other names
// with a digit run after the first character are dropped, as are "Old..."
// columns; everything else keeps its name.
CColumnMapping MapColumns(const CSourceRecordset& recordset,
                          const std::vector<TableQuestion>& questions,
                          const std::set<int32_t>& dataQuestionIds) {
  CColumnMapping mapping;
  const int fieldCount = recordset.FieldCount();
  mapping.carriedFields.reserve(fieldCount);
  mapping.targetNames.reserve(fieldCount);
  for (int n = 0; n < fieldCount; ++n) {
    const std::string& name = recordset.FieldName(n);
    size_t digitCount = 0;
    while (1 + digitCount < name.size() && name[1 + digitCount] >= '0' &&
           name[1 + digitCount] <= '9') {
      ++digitCount;
    }
    if (digitCount == 0) {
      if (name.compare(0, 3, "Old") == 0) continue;
      mapping.carriedFields.push_back(n);
      mapping.targetNames.push_back(name);
      continue;
    }
    const std::string_view digits = std::string_view(name).substr(1, digitCount);
    const int32_t questionId = LeadingInt(digits);
    const size_t indexStart = std::min(name.size(), 1 + digitCount + 1);
    const int32_t responseIndex = LeadingInt(std::string_view(name).substr(indexStart));
    bool listed = false;
    for (const TableQuestion& question : questions) {
      if (question.code == digits && LeadingInt(question.maxResponses.ToText()) >= responseIndex) {
        listed = true;
        break;
      }
    }
    if (!listed || !dataQuestionIds.contains(questionId)) continue;
    mapping.carriedFields.push_back(n);
    mapping.targetNames.push_back(fmt::sprintf("%ld;%ld", questionId, responseIndex));
  }
  return mapping;
}

}  // namespace

std::string CExporter::LegacyTableQuery(int32_t tableIndex) const {
  std::string sql =
      "SELECT * FROM " + Bracketed(LegacyResponseTableName(m_settings.surveyId, tableIndex + 1));
  const bool filterActive = m_settings.completionFilter != CompletionFilter::NONE ||
                            !m_settings.minStartDate.empty() || !m_settings.maxStartDate.empty();
  if (tableIndex != 0 || !filterActive) return sql;

  // Only the dates the constructor checked reach the SQL text, written in the
  // server's own dialect.
  return sql + " WHERE " +
         BuildLegacyFilterClause(
             m_settings.completionFilter,
             CheckedStartBound(m_settings.minStartBound, m_settings.minStartDate),
             CheckedStartBound(m_settings.maxStartBound, m_settings.maxStartDate),
             *m_sourceConnection);
}

int CExporter::ReadTableFromSqlLegacy() {
  return RunReadThread("CExporter::ReadTableFromSqlLegacy", &CExporter::ReadLegacyTable);
}

bool CExporter::ReadLegacyTable(int32_t t) {
  ReportInfo("[Read Thread] Opening SQL Table...");
  m_sourceRecordset = m_sourceConnection->Execute(LegacyTableQuery(t));
  CSourceRecordset& recordset = *m_sourceRecordset;
  if (recordset.IsEOF()) {
    recordset.Close();
    m_sourceRecordset.reset();
    return true;
  }

  TableSlot<LegacyBatch>& slot = *m_tableSlots[t];
  CColumnMapping mapping = MapColumns(recordset, m_tableQuestions[t], m_dataQuestionIds);
  {
    std::lock_guard slotLock(slot.lock);
    slot.columns = std::move(mapping.targetNames);
  }
  ReportInfo(fmt::sprintf("[Read Thread] Begining Reads on SQL Table number %d", t + 1));

  const bool filterActive = m_settings.completionFilter != CompletionFilter::NONE ||
                            !m_settings.minStartDate.empty() || !m_settings.maxStartDate.empty();
  int keyField = -1;
  if (filterActive) {
    keyField = recordset.FieldIndex("Cle1");
    if (keyField < 0) recordset.FieldValue(std::string_view("Cle1"));  // throws: missing field
  }

  while (!recordset.IsEOF()) {
    CBatchFill<LegacyBatch> fill(slot, *m_freeBatches, *m_readyBatches);
    if (!fill.Begun()) return false;
    std::vector<BufferedRow>& rows = fill.Batch().rows;
    rows.reserve(BatchRowLimit);
    int32_t accepted = 0;
    int32_t scanned = 0;
    while (!recordset.IsEOF() && accepted < BatchRowLimit) {
      // Later tables keep the interviews table 1 accepted, compared by value.
      const bool taken =
          !filterActive || t == 0 || m_acceptedKeys.contains(recordset.FieldValue(keyField));
      if (taken) {
        BufferedRow& row = rows.emplace_back();
        row.reserve(mapping.carriedFields.size());
        for (int field : mapping.carriedFields) row.push_back(recordset.FieldValueCopy(field));
        if (filterActive && t == 0) m_acceptedKeys.insert(recordset.FieldValue(keyField));
        ++accepted;
      }
      ++scanned;
      recordset.MoveNext();
    }
    fill.Complete(scanned);
  }

  recordset.Close();
  m_sourceRecordset.reset();
  ReportInfo(fmt::sprintf("[Read Thread] Done reading Table number %d", t + 1));
  return true;
}

}  // namespace zx
