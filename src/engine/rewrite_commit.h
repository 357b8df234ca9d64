#pragma once
// Steps 2 to 4 of a rewrite in place (rewrite_recovery.h): the commit
// marker, the renames of the complete, synced drafts over their files, and
// the marker's removal. Shared by the tool's compact and rekey and the
// engine's own compact.

#include <string>
#include <vector>

#include "engine/draft_file.h"

namespace mero {

// Commits the drafts of base's files. `step` (when given) runs after each
// step that leaves a different state on the disk, so a test can end the
// process there. False with `error` set when a step failed: before the
// marker was written nothing changed; after it, the next open finishes the
// rewrite. The caller has closed its own handles of the files replaced
// (Windows renames only over files nobody has open).
bool commitRewrite(const std::string& base, const std::vector<DraftFile*>& drafts, std::string& error,
                   void (*step)() = nullptr);

}  // namespace mero
