#include "engine/rewrite_recovery.h"

#include "platform/file.h"

namespace mero {

bool recoverInterruptedRewrite(const std::string& baseName) {
  const std::string marker = rewriteMarkerPath(baseName);
  const bool committed = File::exists(marker);
  bool ok = true;
  for (const char* extension : kRewrittenExtensions) {
    const std::string path = baseName + extension;
    const std::string draft = rewriteDraftPath(path);
    if (!File::exists(draft)) continue;
    ok = (committed ? File::rename(draft, path) : File::remove(draft)) && ok;
  }
  if (!committed || !ok) return ok;
  // The renames must be on the disk before the marker that vouches for them goes.
  return File::syncDirectoryOf(marker) && File::remove(marker) && File::syncDirectoryOf(marker);
}

}  // namespace mero
