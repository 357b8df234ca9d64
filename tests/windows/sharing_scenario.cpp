// Files opened without denying others: a second id on the same files while
// the first is open, and a second process that reopens (and appends to) the
// files this one wrote while this one still has them open.

#include <windows.h>

#include "scenario_expectations.h"
#include "scenarios.h"

using report::check;

namespace scenario {

namespace {

// The child appends this record after the lifecycle scenario's end state.
const Record kChildRecord{"Carol", "55"};
constexpr int kChildRecordPosition = 80;

// Runs this program again in child mode; its exit status, or -1.
long runChildProcess(const std::string& driverPath) {
  std::string commandLine = "\"" + driverPath + "\" child";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(driverPath.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    report::fail("CreateProcessA failed with error %lu", GetLastError());
    return -1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<long>(status);
}

}  // namespace

void runSecondOpen(const NativeMethods& native) {
  MarshallClient java(native);
  const int first = java.registerName(kBaseName);
  check(java.open(first, kKey, true), "second open: first open");
  const int second = java.registerName(kBaseName);
  check(second != first, "the same name registered twice got one id");
  check(java.open(second, kKey, true), "second open of the same files while the first is open");
  checkLifecycleResult(java, second, "second open");
  checkLifecycleResult(java, first, "first open, after the second");
  check(java.close(second), "second open: close second");
  checkLifecycleResult(java, first, "first open, after the second closed");
  check(java.close(first), "second open: close first");
  java.unregister(second);
  java.unregister(first);
}

void runSecondProcess(const NativeMethods& native, const std::string& driverPath) {
  MarshallClient java(native);
  const int id = java.registerName(kBaseName);
  check(java.open(id, kKey, true), "second process: open in the parent");
  expectInt(runChildProcess(driverPath), 0, "exit status of the child process");
  check(java.close(id), "second process: close in the parent");

  // What the child appended is there for a new open in this process.
  check(java.open(id, kKey, true), "second process: reopen in the parent");
  expectInt(java.numRecs(id), 3, "numRecs after the child's append");
  expectInt(java.getPos(id, kChildRecord[0]), kChildRecordPosition, "getPos of the child's record");
  expectRecord(java.getRecord(id, kChildRecordPosition), kChildRecord, "the child's record");
  check(java.close(id), "second process: final close");
  java.unregister(id);
}

void runChild(const NativeMethods& native) {
  MarshallClient java(native);
  const int id = java.registerName(kBaseName);
  expectInt(id, 1, "child: ids start again in a new process");
  check(java.open(id, kKey, true), "child: open while the parent has the files open");
  checkLifecycleResult(java, id, "child");
  expectInt(java.write(id, kChildRecord), 0, "child: write");
  expectInt(java.getPos(id, kChildRecord[0]), kChildRecordPosition, "child: getPos of its record");
  check(java.close(id), "child: close");
  check(java.unregister(id), "child: unregister");
}

}  // namespace scenario
