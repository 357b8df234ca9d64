#pragma once
// The engine of an existing database, opened as an application opens it,
// for the commands that read or change single records and import --append.

#include <memory>
#include <string>

#include "engine/database.h"

namespace mero::tool {

// Null after a message on stderr, with the exit status in `status`: no
// database at base, a missing index beside a data file that holds bytes
// (which the engine would take for an empty one), the lock held, damage.
std::unique_ptr<Database> openEngine(const std::string& base, const std::string& key, bool useKeyIndex, int& status);

}  // namespace mero::tool
