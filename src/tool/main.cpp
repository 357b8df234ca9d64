// mero: inspect, check, export, import, compact and re-key a database from
// the command line, on the engine directly (no Java).

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "engine/file_names.h"
#include "tool/commands.h"
#include "tool/exit_status.h"
#include "tool/progress_bar.h"

namespace mero::tool {

int fail(int status, const std::string& message) {
  ProgressBar::clearActive();
  std::fprintf(stderr, "mero: %s\n", message.c_str());
  return status;
}

namespace {

const char kExitStatuses[] =
    "Exit status:\n"
    "  0  success (check: no problems found)\n"
    "  1  check found problems; import refused rows; a wrong key; the command failed\n"
    "  2  usage error: bad arguments, no key or an empty one without --empty-key, an\n"
    "     output file that exists without --force, a new database's name taken\n"
    "  3  a file the command needs (the database's, the input, the key file) is\n"
    "     missing or unreadable, or the database is damaged (rewrites refuse it)\n"
    "  4  an application has the database open (readers: unless --live), another mero\n"
    "     is rewriting or making it, or it kept changing under a live read\n"
    "  5  a write failed (a full disk, the 2 GiB data file limit): the command\n"
    "     stopped and left nothing it had written\n";

const char kKeyHelp[] =
    "The key is read from --key-file FILE (its bytes, less one trailing newline)\n"
    "or from the environment variable MERO_KEY; never from the command line itself.\n"
    "An empty key (values stored without a cipher) needs --empty-key as well.\n";

const char kLiveHelp[] =
    "While an application has the database open, readers refuse (status 4): it may\n"
    "be changing the files. --live reads anyway: a pass counts only when the files\n"
    "did not change under it (else it starts over), and the answer is said to be a\n"
    "moment's view.\n";

struct Command {
  const char* name;
  const char* usage;
  const char* about;
  OptionSet options;
  int (*run)(const CommandLine&);
  bool needsKeyHelp;
  bool reads = false;  // a reader: takes --live
};

const std::vector<Command>& commands() {
  static const std::vector<Command> list = {
      {"info",
       "mero info BASE [--live] [--quiet]",
       "Prints the fields and whether each is indexed, the live record count, and the\n"
       "data file's size with its live and dead bytes. No key is needed.\n",
       {{}, {"--quiet", "--live"}},
       runInfo,
       false,
       true},
      {"check",
       "mero check BASE [--full] [--key-file FILE] [--empty-key] [--live] [--quiet]",
       "Checks the files' structure without the key: the schema block readable, the\n"
       "index file present beside a data file that holds bytes, its count against the\n"
       "index file, every position inside the data file, every live image well formed,\n"
       "no position listed twice and no two live images overlapping. --full also\n"
       "deciphers every live value (with the key) and reports values that are not\n"
       "valid modified UTF-8 or hold a zero byte. Each problem is printed on stdout\n"
       "with its position. States that the next open repairs (a delete cut short) are\n"
       "noted, not counted as problems.\n",
       {{"--key-file"}, {"--full", "--quiet", "--empty-key", "--live"}},
       runCheck,
       true,
       true},
      {"export",
       "mero export BASE --format csv|jsonl|sqlite [--output FILE] [--force] [--key-file FILE] [--empty-key] [--live] "
       "[--quiet]",
       "Writes the live records in record order, values in standard UTF-8: CSV (RFC 4180,\n"
       "with a header row of field names), JSON Lines (one object per record keyed by\n"
       "field name) or a SQLite file (table \"records\": the position, then a TEXT column\n"
       "per field; needs --output). Output goes to stdout unless --output is given; an\n"
       "existing output file is replaced only with --force, and only once the export\n"
       "is complete. The output can never be one of the database's own files.\n",
       {{"--format", "--output", "--key-file"}, {"--force", "--quiet", "--empty-key", "--live"}},
       runExport,
       true,
       true},
      {"import",
       "mero import BASE --format csv|jsonl [--input FILE] [--indexed NAME,...] [--key-index] [--append] [--key-file "
       "FILE] [--empty-key] [--quiet]",
       "Creates a new database (refused when any of BASE's files exists) from CSV with a\n"
       "header row, or from JSON Lines (the first object names the fields). --indexed\n"
       "names the fields to index for searching. Every row is appended as the library\n"
       "appends; with --key-index, a row whose first field repeats an earlier row's is\n"
       "refused (off by default: every row is kept). Reports rows read, written and\n"
       "refused. Bad input (a wrong field count, an unterminated quote, invalid UTF-8)\n"
       "stops the import and leaves no files; so does a failed write (status 5). An\n"
       "empty last line of CSV is ignored. The new files are put in place only when\n"
       "complete, and never over a database that appeared meanwhile. --append adds\n"
       "the rows to an existing database instead, through its engine (the fields must\n"
       "be the database's, by name and order): every row is read first, so bad input\n"
       "still writes nothing; a failed write stops it, the rows before it appended.\n",
       {{"--format", "--input", "--indexed", "--key-file"}, {"--key-index", "--quiet", "--empty-key", "--append"}},
       runImport,
       true},
      {"compact",
       "mero compact BASE [--into NEWBASE] [--quiet]",
       "Rewrites the data file with only the live record images, byte for byte, in\n"
       "record order, and the index file to match. No key is needed. Record positions\n"
       "change when dead images lay before live ones. --into writes a new database and\n"
       "leaves BASE untouched. In place, a kill or power cut at any moment leaves the\n"
       "old or the new database, whole. Refused while any process has the database\n"
       "open, and refused (status 3) when check finds damage: mero recover salvages.\n",
       {{"--into"}, {"--quiet"}},
       runCompact,
       false},
      {"rekey",
       "mero rekey BASE --new-key-file FILE [--key-file FILE] [--empty-key] [--quiet]",
       "Re-enciphers every live value under the new key (read from --new-key-file, less\n"
       "one trailing newline); the old key as for every command. Every live value must\n"
       "decipher to valid text under the old key, or nothing is changed (status 1).\n"
       "Lengths and positions stay the same. Safe against a kill or power cut like\n"
       "compact; refused while any process has the database open, and refused when\n"
       "check finds damage.\n",
       {{"--key-file", "--new-key-file"}, {"--quiet", "--empty-key"}},
       runRekey,
       true},
      {"recover",
       "mero recover BASE --into NEWBASE [--key-file FILE] [--empty-key] [--quiet]",
       "Salvages every well-formed record of a damaged database into a new one, and\n"
       "never writes to BASE. An image counts when its length prefix equals its\n"
       "fields' (4 + sum(4 + n)) and every value deciphers to valid text under the key.\n"
       "Where the index is sound it names the records and their order; where it is\n"
       "not (missing, cut short, entries leading to garbage or listed twice) the data\n"
       "file is scanned for such images too, which follow in data-file order. A scan\n"
       "also finds dead images: one whose first field is that of a record the index\n"
       "names is an older version and dropped; of two found with one first field, the\n"
       "later is kept (updates move records to the end), and the choice is reported.\n"
       "Records deleted before the damage may come back. Every record dropped or\n"
       "found, and why, is listed on stderr. The schema file must be readable.\n",
       {{"--into", "--key-file"}, {"--quiet", "--empty-key"}},
       runRecover,
       true},
      {"get",
       "mero get BASE KEY|@POSITION [--format csv|jsonl] [--with-position] [--key-file FILE] [--empty-key]",
       "Prints the live record whose first field is KEY, or the one at POSITION, as\n"
       "export prints records (CSV with a header row, or JSON Lines); --with-position\n"
       "adds the position as a first column. Status 1 when there is none.\n",
       {{"--format", "--key-file"}, {"--with-position", "--empty-key"}, true},
       runGet,
       true},
      {"find",
       "mero find BASE FIELD=TERM|FIELD~TERM ... [--format csv|jsonl] [--with-position] [--key-file FILE] "
       "[--empty-key]",
       "Prints the live records that match every term, in record order: FIELD=TERM\n"
       "matches the whole value, FIELD~TERM a substring, ignoring the case of ASCII\n"
       "letters, as the library's find. FIELD is a field's name or number; one term\n"
       "per field. With no term, every record.\n",
       {{"--format", "--key-file"}, {"--with-position", "--empty-key"}, true},
       runFind,
       true},
      {"count",
       "mero count BASE [FIELD=TERM|FIELD~TERM ...] [--key-file FILE] [--empty-key]",
       "Prints the number of live records, or of those that match every term (as\n"
       "find; the key is needed only with terms).\n",
       {{"--key-file"}, {"--empty-key"}, true},
       runCount,
       true},
      {"put",
       "mero put BASE VALUE... [--key-index] [--key-file FILE] [--empty-key]",
       "Appends one record, a VALUE per field, and prints its position. With\n"
       "--key-index a first field that is already a record's key is refused (status 1).\n",
       {{"--key-file"}, {"--key-index", "--empty-key"}, true},
       runPut,
       true},
      {"delete",
       "mero delete BASE KEY|@POSITION [--key-file FILE] [--empty-key]",
       "Deletes the live record whose first field is KEY, or the one at POSITION.\n"
       "Status 1 when there is none.\n",
       {{"--key-file"}, {"--empty-key"}, true},
       runDelete,
       true},
  };
  return list;
}

void printCommandHelp(const Command& c) {
  std::printf("usage: %s\n\n%s\n", c.usage, c.about);
  if (c.needsKeyHelp) std::printf("%s\n", kKeyHelp);
  if (c.reads) std::printf("%s\n", kLiveHelp);
  std::printf("--quiet turns off the progress bar (shown only when stderr is a terminal).\n\n%s", kExitStatuses);
}

void printHelp() {
  std::printf(
      "usage: mero COMMAND BASE [options]\n\n"
      "BASE is a database's base name: its files are BASE%s, BASE%s and BASE%s.\n\n"
      "Commands:\n",
      kSchemaExtension, kDataExtension, kIndexExtension);
  for (const Command& c : commands()) std::printf("  %s\n", c.usage);
  std::printf(
      "\n%s\n%s\nBASE may also be given as one of its files (BASE%s, BASE%s, BASE%s).\n"
      "Data goes to stdout (or --output), messages to stderr.\n"
      "mero COMMAND --help describes one command; mero --version names this build.\n\n%s",
      kKeyHelp, kLiveHelp, kSchemaExtension, kDataExtension, kIndexExtension, kExitStatuses);
}

int run(int argc, char** argv) {
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
  if (args[0] == "--version") {
    std::printf("mero %s\n", MERO_VERSION);
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

}  // namespace

// What the commands printed may still wait in stdout's buffer: it goes out
// here, and a command whose data never arrived did not succeed.
int main(int argc, char** argv) {
  const int status = run(argc, argv);
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    const std::string reason = std::strerror(errno);
    if (status == kSuccess) return fail(kWriteFailed, "cannot write standard output: " + reason);
  }
  return status;
}

}  // namespace mero::tool

int main(int argc, char** argv) { return mero::tool::main(argc, argv); }
