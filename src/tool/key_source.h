#pragma once
// The key of a command: the bytes of a key file (less one trailing newline)
// or the environment variable MERO_KEY, never the command line itself, where
// other users could read it. Keys are UTF-8 text and are stored the way the
// library receives them from Java: as modified UTF-8.

#include <string>

#include "tool/command_line.h"

namespace mero::tool {

// Reads the key named by fileOption (or, with useEnvironment, MERO_KEY).
// Returns an exit status: kUsage with a message when there is none, or it is
// empty without --empty-key; kUnreadable when the key file cannot be read.
int loadKey(const CommandLine& line, const std::string& fileOption, bool useEnvironment, std::string& key,
            std::string& error);

}  // namespace mero::tool
