#pragma once
// The last step of both layouts: the finished file takes the target's place.
#include <functional>
#include <string>

namespace zx {

// Puts `finished` in place of `target` in one rename (synced, and the folder
// after it). The target's SQLite side files go first: a journal or log left
// by whatever last wrote the old file would otherwise be applied to the new
// one when it is next opened. `removed` gets a line naming them. Until the
// rename an existing target keeps its content. Throws CExportError.
void ReplaceTargetFile(const std::string& finished, const std::string& target,
                       const std::function<void(const std::string&)>& removed);

}  // namespace zx
