#pragma once
// What the shared preparation hands to the layout's export: the questionnaire,
// the engine and the open work copy of the target.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "platform/zuv/engine.hpp"
#include "surveylib/questionnaire.hpp"

namespace zx {

// Removes the export's temporary files when it goes, whatever happened; the
// target itself is only ever replaced by one atomic rename.
class CTemporaryFiles {
 public:
  CTemporaryFiles() = default;
  ~CTemporaryFiles();
  CTemporaryFiles(const CTemporaryFiles&) = delete;
  CTemporaryFiles& operator=(const CTemporaryFiles&) = delete;
  void Add(std::string path) { m_paths.push_back(std::move(path)); }

 private:
  std::vector<std::string> m_paths;
};

struct CPreparedExport {
  std::unique_ptr<CTargetLock> lock;  // first: held until the temporary files are gone
  CTemporaryFiles temporaryFiles;     // goes after the database that uses them
  std::string workFile;               // copy of the source that receives every write
  std::string compactedFile;          // "<target>.tmp"
  std::unique_ptr<CQuestionnaire> questionnaire;
  int32_t highestTableNumber = 0;
  std::unique_ptr<CZuvEngine> engine;
  std::unique_ptr<CZuvDatabase> target;  // on workFile
};

}  // namespace zx
