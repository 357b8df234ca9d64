// mero check: the structure of the three files, without the key; with
// --full, also every live value deciphered.

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <thread>

#include "engine/field_cipher.h"
#include "engine/field_values.h"
#include "engine/record_image.h"
#include "foundation/modified_utf8.h"
#include "tool/commands.h"
#include "tool/exit_status.h"
#include "tool/key_source.h"
#include "tool/structure_check.h"
#include "tool/tool_database.h"

namespace mero::tool {

namespace {

// One pass of the check. Live, problems are kept rather than printed until
// the pass is known to have seen the files whole.
StructureResult checkOnce(ToolDatabase& db, ProblemList& problems, bool full, const FieldCipher& cipher, bool quiet) {
  FieldValues values;
  // One walk per image: the structure and, for a whole image, its values.
  auto deepCheck = [&](size_t r, int64_t position, std::string_view image) {
    const int32_t fieldCount = db.schema().fieldCount;  // read by checkStructure
    values.clear();
    const ImageDamage damage = walkImage(image, fieldCount, [&](int32_t, std::string_view stored) {
      cipher.decode(stored.data(), stored.size(), values.addUninitialised(stored.size()));
    });
    if (!damage.ok()) return damage;
    for (int32_t f = 0; f < fieldCount; ++f) {
      const std::string_view v = values[f];
      const std::string where = "record " + std::to_string(r) + ": field " + std::to_string(f);
      if (std::memchr(v.data(), 0, v.size()) != nullptr)
        problems.add(position, where + " holds a zero byte");
      else if (!isValidModifiedUtf8(v))
        problems.add(position, where + " is not valid modified UTF-8");
    }
    return damage;
  };
  if (!full) return checkStructure(db, problems, quiet);
  return checkStructure(db, problems, quiet, deepCheck);
}

}  // namespace

int runCheck(const CommandLine& line) {
  const bool full = line.flag("--full");
  std::string key;
  std::string error;
  if (full)
    if (const int status = loadKey(line, "--key-file", true, key, error); status != kSuccess)
      return fail(status, error);
  ToolDatabase db;
  const auto access = line.flag("--live") ? ToolDatabase::Access::live : ToolDatabase::Access::shared;
  if (const int status = db.open(line.base(), access, error); status != kSuccess) return fail(status, error);
  const FieldCipher cipher(key);

  if (db.readingLive()) {
    // An application is changing the files: a pass counts only when they did
    // not change under it. Problems count only when a second pass, after the
    // files' timestamps have had time to move, finds the same ones in the
    // same files: a healthy database is never called damaged.
    std::fprintf(stderr, "mero: reading live: %s is open in an application; this is a moment's view\n",
                 line.base().c_str());
    for (int attempt = 0; attempt < 20; ++attempt) {
      ProblemList first(false, true);
      db.refreshSizes();
      const StructureResult result = checkOnce(db, first, full, cipher, true);
      const auto seen = db.seen();
      if (!db.unchangedSinceLoad()) continue;
      if (first.count() == 0) {
        std::printf("no problems found: %" PRIu64 " records\n", result.records);
        return kSuccess;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ProblemList second(false, true);
      checkOnce(db, second, full, cipher, true);
      if (!db.unchangedSinceLoad() || db.seen() != seen || second.kept() != first.kept()) continue;
      for (const std::string& problem : first.kept()) std::printf("%s\n", problem.c_str());
      std::printf("%" PRIu64 " problems found\n", first.count());
      return kProblems;
    }
    return fail(kInUse, line.base() + " kept changing while it was read: try again, or close the application first");
  }

  ProblemList problems(true);
  const StructureResult result = checkOnce(db, problems, full, cipher, line.flag("--quiet"));
  if (problems.count() == 0) {
    if (!result.powerCut.empty())
      std::printf("note: what a power cut or a crash left, which the next open takes back: %s\n",
                  result.powerCut.c_str());
    else if (result.interruptedDelete)
      std::printf("note: an interrupted delete that the next open completes\n");
    std::printf("no problems found: %" PRIu64 " records\n", result.records);
    return kSuccess;
  }
  std::printf("%" PRIu64 " problems found\n", problems.count());
  return kProblems;
}

}  // namespace mero::tool
