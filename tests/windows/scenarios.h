#pragma once
// The driver's scenarios and what they share: database names (relative, so
// they land in the directory the driver runs in), the key, and readers of
// the files' raw bytes.

#include <cstdint>
#include <string>

#include "marshall_client.h"

namespace scenario {

inline const std::string kBaseName = "people";
inline const std::string kKey = "secret";

// The whole file, read in binary mode; empty when it cannot be read.
std::string fileBytes(const std::string& path);
bool fileExists(const std::string& path);
// The little-endian int32 at offset, or INT32_MIN past the end.
int32_t int32At(const std::string& bytes, size_t offset);
std::string int32Bytes(std::initializer_list<int32_t> values);
void removeDatabaseFiles(const std::string& baseName);

// What kBaseName holds after the lifecycle scenario, checked through an
// open database id.
void checkLifecycleResult(MarshallClient& java, int id, const char* where);

void runLifecycle(const NativeMethods& native);
void runBinaryFileBytes(const NativeMethods& native);
void runTwoThreads(const NativeMethods& native);
void runThreadExit(const NativeMethods& native);
void runSecondOpen(const NativeMethods& native);
void runSecondProcess(const NativeMethods& native, const std::string& driverPath);
// The second process's side: reopens what the parent wrote, then appends.
void runChild(const NativeMethods& native);

}  // namespace scenario
