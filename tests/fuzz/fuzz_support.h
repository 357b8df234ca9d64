#pragma once
// What the fuzz targets share beyond the tests' support library: a reader
// that cuts the input into fields, a scratch directory in memory-backed
// storage for the database files, and a check that ends the run (so
// libFuzzer keeps the input) when an invariant breaks.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace mero::fuzz {

class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : data_(reinterpret_cast<const char*>(data)), size_(size) {}
  uint8_t byte() { return at_ < size_ ? static_cast<uint8_t>(data_[at_++]) : 0; }
  uint32_t u16() { return byte() | (uint32_t{byte()} << 8); }
  uint32_t u32() { return u16() | (u16() << 16); }
  std::string_view bytes(size_t n) {
    if (n > size_ - at_) n = size_ - at_;
    const std::string_view out(data_ + at_, n);
    at_ += n;
    return out;
  }
  std::string_view rest() { return bytes(size_ - at_); }

 private:
  const char* data_;
  size_t size_;
  size_t at_ = 0;
};

// One directory per fuzzing process, in /dev/shm when there is one, removed
// when the process ends.
struct ScratchDirectory {
  std::filesystem::path dir;
  ScratchDirectory() {
    const std::filesystem::path root = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    dir = root / ("mero-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

inline const std::string& scratchBase() {
  static const ScratchDirectory directory;
  static const std::string base = (directory.dir / "db").string();
  return base;
}

}  // namespace mero::fuzz
