#pragma once
// The structural check of a database's three files, without the key: what
// `mero check` reports, and what every rewrite makes first so that it never
// copies damage or turns it into loss.
//   - the schema block readable; records listed only when it has fields;
//   - the index file there beside a data file that holds bytes, its count
//     within the entries it holds;
//   - every entry inside the data file, leading to a well-formed image;
//   - no position listed twice, no two live images overlapping.
// States that open repairs are notes, not problems: an entry repeated in the
// slot after it is a delete that was cut short, which open completes; what a
// power cut leaves (entries ahead of the records they name, a count ahead of
// its entries, a delete's shift cut anywhere) open takes back, as
// power_cut_recovery.h draws the line.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/record_image.h"
#include "tool/tool_database.h"

namespace mero::tool {

class ProblemList {
 public:
  // Printed on stdout as they are found (check), or kept: the first few
  // (a rewrite, which refuses with them), or all (a live check, which prints
  // them once they are known to be real).
  explicit ProblemList(bool print, bool keepAll = false) : print_(print), keepAll_(keepAll) {}
  void add(int64_t position, const std::string& what);
  uint64_t count() const { return count_; }
  const std::vector<std::string>& kept() const { return kept_; }

 private:
  bool print_;
  bool keepAll_;
  uint64_t count_ = 0;
  std::vector<std::string> kept_;
};

struct StructureResult {
  uint64_t records = 0;            // live records listed
  bool interruptedDelete = false;  // an entry repeated by a delete cut short
  std::string powerCut;            // what open takes back beyond that, in one line; "" when nothing
};

// Walks one live image (length prefix included) whose length the reader
// has judged, given its record number and position, and tells what is wrong
// with its fields: checkImage, or a walk that also looks at the values (the
// deeper checks of --full).
using ImageInspector = std::function<ImageDamage(size_t, int64_t, std::string_view)>;

// Checks db (opened, schema not yet read) and reports into problems.
StructureResult checkStructure(ToolDatabase& db, ProblemList& problems, bool quiet, const ImageInspector& inspect = {});

}  // namespace mero::tool
