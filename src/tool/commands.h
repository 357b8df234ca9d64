#pragma once
// The mero commands. Each takes its parsed arguments, writes data to stdout
// (or its output file) and messages to stderr, and returns an exit status.

#include "tool/command_line.h"

namespace mero::tool {

int runInfo(const CommandLine& line);
int runCheck(const CommandLine& line);
int runExport(const CommandLine& line);
int runImport(const CommandLine& line);
int runCompact(const CommandLine& line);
int runRekey(const CommandLine& line);
int runRecover(const CommandLine& line);
int runGet(const CommandLine& line);
int runFind(const CommandLine& line);
int runCount(const CommandLine& line);
int runPut(const CommandLine& line);
int runDelete(const CommandLine& line);

// Prints "mero: message" on stderr and returns status.
int fail(int status, const std::string& message);

}  // namespace mero::tool
