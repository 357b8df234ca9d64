#pragma once
// Numbered steps of the commands that rewrite files. Setting MERO_TOOL_CRASH_AT=N
// makes the process end abruptly (no cleanup, no flushing) at its N-th step,
// so a test can stop a rewrite at every point and check what it leaves.

namespace mero::tool {

void crashPoint();

}  // namespace mero::tool
