// mero info: the schema, the record count and how much of the data file is live.

#include <cinttypes>
#include <cstdio>

#include "engine/power_cut_recovery.h"
#include "engine/record_order_reader.h"
#include "foundation/modified_utf8.h"
#include "tool/commands.h"
#include "tool/exit_status.h"
#include "tool/progress_bar.h"
#include "tool/tool_database.h"

namespace mero::tool {

int runInfo(const CommandLine& line) {
  ToolDatabase db;
  std::string error;
  const auto access = line.flag("--live") ? ToolDatabase::Access::live : ToolDatabase::Access::shared;
  if (const int status = db.open(line.base(), access, error); status != kSuccess) return fail(status, error);
  // What a power cut left, which the next open will take back.
  // Such files hold entries that do not lead to whole records (or a count
  // ahead of its entries): they are reported as what open takes back, not
  // as damage, and the counts below are the records open keeps.
  RecoveryReport recovery;
  const bool repairable =
      analyseFiles(db.schemaFile(), db.indexFile(), db.dataFile(), recovery) == OpenFailure::none && !recovery.empty();
  if (repairable) std::printf("power-cut recovery at the next open: %s\n", recovery.summary().c_str());
  if (!db.readSchema(error) && !(repairable && recovery.schemaIncomplete)) return fail(kUnreadable, error);
  if (db.readingLive())
    std::fprintf(stderr, "mero: reading live: %s is open in an application; this is a moment's view\n",
                 line.base().c_str());

  const Schema& schema = db.schema();
  uint64_t liveBytes = 0;
  uint64_t damaged = 0;
  // Live, a pass counts only when the files did not change under it.
  for (int attempt = 0;; ++attempt) {
    const bool loaded = db.loadPositions(error);
    if (!loaded && !db.readingLive() && !repairable) return fail(kUnreadable, error);
    // Live bytes: the lengths of the live images, read in one forward pass.
    RecordOrderReader reader(db.dataFile(), db.dataSize(), db.positions(), schema.fieldCount);
    liveBytes = damaged = 0;
    ProgressBar progress("info", db.positions().size(), line.flag("--quiet"));
    uint64_t done = 0;
    for (size_t r = 0; r < db.positions().size(); ++r) {
      const std::string_view image = reader.rawImage(r);
      if (image.empty()) ++damaged;
      liveBytes += image.size();
      progress.update(++done);
    }
    if (!db.readingLive() || (loaded && db.unchangedSinceLoad())) break;
    if (attempt >= 20)
      return fail(kInUse, line.base() + " kept changing while it was read: try again, or close the application first");
  }

  std::printf("fields: %d\n", schema.fieldCount);
  for (int32_t f = 0; f < schema.fieldCount; ++f) {
    std::string name;
    size_t replaced = 0;
    if (!modifiedToUtf8(schema.fieldNames.at(f).view(), name, replaced)) name = "(name not valid text)";
    std::printf("  %d  %s  %s\n", f, name.c_str(), schema.indexed.at(f) ? "indexed" : "not indexed");
  }
  if (repairable)
    std::printf("records: %d (after the next open; live bytes below count only images that read whole)\n",
                recovery.keptCount);
  else
    std::printf("records: %zu\n", db.positions().size());
  const uint64_t size = static_cast<uint64_t>(db.dataSize());
  const uint64_t dead = size > liveBytes ? size - liveBytes : 0;
  std::printf("data file: %" PRIu64 " bytes, live %" PRIu64 " bytes, dead %" PRIu64 " bytes (%.1f%%)\n", size,
              liveBytes, dead, size == 0 ? 0.0 : 100.0 * static_cast<double>(dead) / static_cast<double>(size));
  std::printf("index file: %" PRId64 " bytes\n", db.indexSize());
  if (damaged > 0 && !repairable)
    return fail(kProblems, std::to_string(damaged) + " live records are damaged: run mero check");
  return kSuccess;
}

}  // namespace mero::tool
