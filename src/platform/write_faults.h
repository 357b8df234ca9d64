#pragma once
// Test builds (MERO_WRITE_FAULTS) count every file write and can act on the
// k-th one, so tests reach every crash and failure point of every operation.
// Production builds compile the check away.
//
// Actions on the armed write:
//   fail     the write fails, nothing written;
//   partial  its first half is written, then it fails (a full disk);
//   abort    the process ends just before it;
//   tear     the process ends after the part before the write's last page
//            boundary is written (what a kill inside a long write leaves:
//            the kernel copies page by page, so a write within one page is
//            whole or absent).
//
// Besides arm(), a test build reads MERO_WRITE_FAULT=ACTION:K from the
// environment at its first write, for tests that drive a child process.

#include <cstddef>
#include <cstdint>

namespace mero::writeFaults {

enum class Action { none, fail, partial, abort, tear };

// What the file layer does with one write: write its first `bytes` bytes,
// then end the process, or report failure, or neither.
struct Decision {
  size_t bytes;
  bool fail;
  bool exitAfter;
};

inline constexpr int kExitStatus = 86;  // what an ended process exits with

// Test builds can also make every lock answer that the file system keeps
// none, as some network shares do, so the paths that must report it run
// where every file system has locks.
#ifdef MERO_WRITE_FAULTS
void setLocksUnsupported(bool unsupported);
bool locksUnsupported();
#else
inline bool locksUnsupported() { return false; }
#endif

#ifdef MERO_WRITE_FAULTS
void arm(long writeNumber, Action action);  // the writeNumber-th write from now, 1-based
void disarm();
long writesSoFar();  // writes counted since the last arm() or disarm()
// offset < 0: an append at an unknown offset.
Decision beforeWrite(int64_t offset, size_t n);
[[noreturn]] void endProcess();
#else
inline Decision beforeWrite(int64_t, size_t n) { return {n, false, false}; }
[[noreturn]] inline void endProcess() { __builtin_trap(); }
#endif

}  // namespace mero::writeFaults
