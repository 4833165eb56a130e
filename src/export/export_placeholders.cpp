// Stand-in until the new-layout export is in place.
#include "export/exporter.hpp"

namespace zx {

int CExporter::ExportFromSqlNew() {
  m_settings.reporter->ReportError("Export not available yet");
  return 1;
}

}  // namespace zx
