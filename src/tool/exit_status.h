#pragma once
// The exit statuses of every mero command, as `mero --help` documents them.

namespace mero::tool {

enum ExitStatus : int {
  kSuccess = 0,
  kProblems = 1,     // check found problems; a command failed or refused rows
  kUsage = 2,        // bad arguments, no key, an output that exists without --force
  kUnreadable = 3,   // the database's files are missing, unreadable or too damaged to use
  kInUse = 4,        // another process has the database open or is rewriting it
};

}  // namespace mero::tool
