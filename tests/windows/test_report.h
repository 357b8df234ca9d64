#pragma once
// Counts the driver's checks and prints each failure as it happens. Safe to
// use from several threads. A failure seen while failures are being captured
// (the stand-in JNI's own self-check) is kept aside instead of counted.

#include <string>
#include <vector>

namespace report {

void check(bool ok, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
void fail(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Prints "<label>N passed, M failed" and returns M.
long summary(const char* label = "");

// Between startCapture and stopCapture, failures are collected, not counted.
void startCapture();
std::vector<std::string> stopCapture();

}  // namespace report
