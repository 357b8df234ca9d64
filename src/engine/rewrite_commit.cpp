#include "engine/rewrite_commit.h"

#include "engine/rewrite_recovery.h"

namespace mero {

bool commitRewrite(const std::string& base, const std::vector<DraftFile*>& drafts, std::string& error, void (*step)()) {
  const auto stepDone = [&] {
    if (step != nullptr) step();
  };
  const std::string marker = rewriteMarkerPath(base);
  std::vector<std::string> extensions;
  for (DraftFile* draft : drafts) {
    const std::string& path = draft->path();
    extensions.push_back(path.substr(base.size(), path.size() - base.size() - 4));
  }
  std::string text;
  File markerFile;
  bool created = false;
  // Made afresh: a marker's text is never written over an older one's.
  if (!describeRewrite(base, extensions, false, text) || !File::remove(marker) || !File::syncDirectoryOf(marker) ||
      !File::createIfMissing(marker, &created) || !created || !markerFile.openReadWrite(marker) ||
      !markerFile.writeAt(0, text.data(), text.size()) || !markerFile.sync() || !File::syncDirectoryOf(marker)) {
    error = "cannot write the commit marker beside " + base + ": " + File::lastErrorText() + "; nothing was changed";
    markerFile.close();
    File::remove(marker);
    return false;
  }
  markerFile.close();
  stepDone();
  // From here on the new files are the database: recovery finishes the job.
  for (DraftFile* draft : drafts) {
    draft->keep();
    const std::string& path = draft->path();
    if (!File::rename(path, path.substr(0, path.size() - 4))) {
      error = "cannot put the new " + path.substr(0, path.size() - 4) + " in place (" + File::lastErrorText() +
              "); the next open finishes the rewrite";
      return false;
    }
    stepDone();
  }
  if (!File::syncDirectoryOf(marker) || !File::remove(marker) || !File::syncDirectoryOf(marker)) {
    error = "cannot remove the commit marker " + marker + " (" + File::lastErrorText() +
            "); the next open finishes the rewrite";
    return false;
  }
  stepDone();
  return true;
}

}  // namespace mero
