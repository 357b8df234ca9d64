#pragma once
// The exit statuses of every mero command, as `mero --help` documents them.

namespace mero::tool {

enum ExitStatus : int {
  kSuccess = 0,
  kProblems = 1,     // check found problems; a command failed or refused rows
  kUsage = 2,        // bad arguments, no key, an output that exists without --force
  kUnreadable = 3,   // a file the command needs is missing or unreadable, or the database is damaged
  kInUse = 4,        // an application has the database open, or another mero is rewriting it
  kWriteFailed = 5,  // a write failed (a full disk, the 2 GiB limit): the command stopped, nothing changed
};

}  // namespace mero::tool
