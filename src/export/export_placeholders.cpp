// Stand-ins until the two export operations are in place.
#include "export/exporter.hpp"

namespace zx {

int CExporter::ExportFromSqlLegacy() {
  m_settings.reporter->ReportError("Export not available yet");
  return 1;
}

int CExporter::ExportFromSqlNew() {
  m_settings.reporter->ReportError("Export not available yet");
  return 1;
}

}  // namespace zx
