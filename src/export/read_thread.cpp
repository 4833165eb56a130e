// The read thread's driver: the layout's table reader for every table in
// turn, then the end signal, or the one failure report and the hand-over's
// cancellation.
#include "export/exporter.hpp"

namespace zx {

int CExporter::RunReadThread(std::string_view location, bool (CExporter::*readTable)(int32_t)) {
  try {
    while (m_readTableIndex < m_tableCount) {
      if (!(this->*readTable)(m_readTableIndex)) {
        m_sourceRecordset.reset();
        return 1;  // the writer failed and reports why
      }
      ++m_readTableIndex;
    }
    m_readyBatches->Release();  // the end signal
    return 0;
  } catch (...) {
    ReportCaughtException(location);
  }
  CancelPipeline(*m_freeBatches, *m_readyBatches);
  m_sourceRecordset.reset();
  return 1;
}

}  // namespace zx
