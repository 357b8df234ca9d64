// mero: inspect, check, export, import, compact and re-key a database from
// the command line, on the engine directly (no Java).

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "tool/commands.h"
#include "tool/exit_status.h"

namespace mero::tool {

int fail(int status, const std::string& message) {
  std::fprintf(stderr, "mero: %s\n", message.c_str());
  return status;
}

namespace {

const char kExitStatuses[] =
    "Exit status:\n"
    "  0  success (check: no problems found)\n"
    "  1  check found problems; import refused rows; the command failed\n"
    "  2  usage error: bad arguments, no key, an output file that exists without --force\n"
    "  3  the database's files are missing, unreadable or too damaged to use\n"
    "  4  the database is open in another process (or being rewritten)\n";

const char kKeyHelp[] =
    "The key is read from --key-file FILE (its bytes, less one trailing newline)\n"
    "or from the environment variable MERO_KEY; never from the command line itself.\n";

struct Command {
  const char* name;
  const char* usage;
  const char* about;
  OptionSet options;
  int (*run)(const CommandLine&);
  bool needsKeyHelp;
};

const std::vector<Command>& commands() {
  static const std::vector<Command> list = {
      {"info", "mero info BASE [--quiet]",
       "Prints the fields and whether each is indexed, the live record count, and the\n"
       "data file's size with its live and dead bytes. No key is needed.\n",
       {{}, {"--quiet"}}, runInfo, false},
      {"check", "mero check BASE [--full] [--key-file FILE] [--quiet]",
       "Checks the files' structure without the key: the index count against the index\n"
       "file, every position inside the data file, every live image well formed, no\n"
       "position listed twice and no two live images overlapping, the schema block\n"
       "readable. --full also deciphers every live value (with the key) and reports\n"
       "values that are not valid modified UTF-8 or hold a zero byte. Each problem is\n"
       "printed on stdout with its position.\n",
       {{"--key-file"}, {"--full", "--quiet"}}, runCheck, true},
      {"export", "mero export BASE --format csv|jsonl|sqlite [--output FILE] [--force] [--key-file FILE] [--quiet]",
       "Writes the live records in record order, values in standard UTF-8: CSV (RFC 4180,\n"
       "with a header row of field names), JSON Lines (one object per record keyed by\n"
       "field name) or a SQLite file (table \"records\": the position, then a TEXT column\n"
       "per field; needs --output). Output goes to stdout unless --output is given; an\n"
       "existing output file is replaced only with --force, and only once the export\n"
       "is complete.\n",
       {{"--format", "--output", "--key-file"}, {"--force", "--quiet"}}, runExport, true},
      {"import", "mero import BASE --format csv|jsonl [--input FILE] [--indexed NAME,...] [--key-index] [--key-file FILE] [--quiet]",
       "Creates a new database (refused when any of BASE's files exists) from CSV with a\n"
       "header row, or from JSON Lines (the first object names the fields). --indexed\n"
       "names the fields to index for searching. Every row is appended as the library\n"
       "appends; with --key-index, a row whose first field repeats an earlier row's is\n"
       "refused (off by default: every row is kept). Reports rows read, written and\n"
       "refused. Bad input (a wrong field count, an unterminated quote, invalid UTF-8)\n"
       "stops the import and leaves no files.\n",
       {{"--format", "--input", "--indexed", "--key-file"}, {"--key-index", "--quiet"}}, runImport, true},
      {"compact", "mero compact BASE [--into NEWBASE] [--quiet]",
       "Rewrites the data file with only the live record images, byte for byte, in\n"
       "record order, and the index file to match. No key is needed. Record positions\n"
       "change. --into writes a new database and leaves BASE untouched. In place, a\n"
       "kill or power cut at any moment leaves the old or the new database, whole.\n"
       "Refused while any process has the database open.\n",
       {{"--into"}, {"--quiet"}}, runCompact, false},
      {"rekey", "mero rekey BASE --new-key-file FILE [--key-file FILE] [--quiet]",
       "Re-enciphers every live value under the new key (read from --new-key-file, less\n"
       "one trailing newline); the old key as for every command. Lengths and positions\n"
       "stay the same. Safe against a kill or power cut like compact; refused while\n"
       "any process has the database open.\n",
       {{"--key-file", "--new-key-file"}, {"--quiet"}}, runRekey, true},
  };
  return list;
}

void printCommandHelp(const Command& c) {
  std::printf("usage: %s\n\n%s\n", c.usage, c.about);
  if (c.needsKeyHelp) std::printf("%s\n", kKeyHelp);
  std::printf("--quiet turns off the progress bar (shown only when stderr is a terminal).\n\n%s", kExitStatuses);
}

void printHelp() {
  std::printf("usage: mero COMMAND BASE [options]\n\n"
              "BASE is a database's base name: its files are BASE.str, BASE.dat and BASE.idx.\n\n"
              "Commands:\n");
  for (const Command& c : commands()) std::printf("  %s\n", c.usage);
  std::printf("\n%s\nData goes to stdout (or --output), messages to stderr.\n"
              "mero COMMAND --help describes one command.\n\n%s",
              kKeyHelp, kExitStatuses);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // Data is written and read byte for byte: no newline translation.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    printHelp();
    return kUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    printHelp();
    return kSuccess;
  }
  for (const Command& c : commands()) {
    if (args[0] != c.name) continue;
    args.erase(args.begin());
    for (const std::string& a : args)
      if (a == "--help" || a == "-h") {
        printCommandHelp(c);
        return kSuccess;
      }
    CommandLine line;
    std::string error;
    if (!line.parse(args, c.options, error)) {
      fail(kUsage, error);
      std::fprintf(stderr, "usage: %s\n", c.usage);
      return kUsage;
    }
    return c.run(line);
  }
  return fail(kUsage, "unknown command " + args[0] + " (mero --help lists them)");
}

}  // namespace mero::tool

int main(int argc, char** argv) { return mero::tool::main(argc, argv); }
