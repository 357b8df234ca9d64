#pragma once
// Test builds (MERO_WRITE_FAULTS) count every file write and can make the
// k-th one fail, or end the process just before it, so tests reach every
// crash and failure point of every operation. Production builds compile the
// check away.
//
// Besides arm(), a test build reads MERO_WRITE_FAULT=fail:K or abort:K from
// the environment at its first write, for tests that drive a child process.

namespace mero::writeFaults {

enum class Action { none, fail, abort };

#ifdef MERO_WRITE_FAULTS
void arm(long writeNumber, Action action);  // the writeNumber-th write from now, 1-based
void disarm();
long writesSoFar();  // writes counted since the last arm() or disarm()
bool beforeWrite();  // false: fail this write
#else
inline bool beforeWrite() { return true; }
#endif

}  // namespace mero::writeFaults
