#pragma once
// The engine's NewDatabase (engine/new_database.h) for the tool's import,
// compact --into and recover: its outcomes as exit statuses, its commit
// steps as crash points.

#include <string>
#include <utility>

#include "engine/new_database.h"
#include "tool/crash_points.h"
#include "tool/exit_status.h"

namespace mero::tool {

class NewDatabase {
 public:
  explicit NewDatabase(std::string base) : made_(std::move(base), "another mero command", crashPoint) {}

  int claim(std::string& error) { return statusOf(made_.claim(error), kProblems); }
  std::string draftPath(const std::string& extension) const { return made_.draftPath(extension); }
  std::string scratchBase() const { return made_.scratchBase(); }
  int commit(const std::string& schemaBytes, std::string& error) {
    return statusOf(made_.commit(schemaBytes, error), kWriteFailed);
  }

 private:
  static int statusOf(mero::NewDatabase::Outcome outcome, int failed) {
    switch (outcome) {
      case mero::NewDatabase::Outcome::done:
        return kSuccess;
      case mero::NewDatabase::Outcome::exists:
        return kUsage;
      case mero::NewDatabase::Outcome::inUse:
        return kInUse;
      case mero::NewDatabase::Outcome::failed:
        return failed;
    }
    return failed;
  }

  mero::NewDatabase made_;
};

}  // namespace mero::tool
