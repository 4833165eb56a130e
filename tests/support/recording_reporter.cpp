#include "support/recording_reporter.hpp"

namespace zx::test {

void CRecordingReporter::Add(CEntry entry) {
  std::lock_guard lock(m_mutex);
  m_entries.push_back(std::move(entry));
}

void CRecordingReporter::ReportProgress(int percent) {
  Add({CEntry::Kind::Progress, std::to_string(percent), percent});
}
void CRecordingReporter::ReportInfo(const std::string& message) {
  Add({CEntry::Kind::Info, message, 0});
}
void CRecordingReporter::ReportError(const std::string& message) {
  Add({CEntry::Kind::Error, message, 0});
}

std::vector<CRecordingReporter::CEntry> CRecordingReporter::Entries() const {
  std::lock_guard lock(m_mutex);
  return m_entries;
}

std::vector<std::string> CRecordingReporter::Infos() const {
  std::vector<std::string> out;
  for (const CEntry& e : Entries()) {
    if (e.kind == CEntry::Kind::Info) out.push_back(e.text);
  }
  return out;
}

std::vector<std::string> CRecordingReporter::Errors() const {
  std::vector<std::string> out;
  for (const CEntry& e : Entries()) {
    if (e.kind == CEntry::Kind::Error) out.push_back(e.text);
  }
  return out;
}

std::vector<int> CRecordingReporter::Percents() const {
  std::vector<int> out;
  for (const CEntry& e : Entries()) {
    if (e.kind == CEntry::Kind::Progress) out.push_back(e.percent);
  }
  return out;
}

std::vector<std::string> CRecordingReporter::Lines() const {
  std::vector<std::string> out;
  for (const CEntry& e : Entries()) {
    switch (e.kind) {
      case CEntry::Kind::Progress:
        out.push_back(e.text);
        break;
      case CEntry::Kind::Info:
        out.push_back("Info: " + e.text);
        break;
      case CEntry::Kind::Error:
        out.push_back("Error: " + e.text);
        break;
    }
  }
  return out;
}

}  // namespace zx::test
