// Raw access to the database files, so scenarios can check their bytes.

#include <cstdio>

#include "scenarios.h"

namespace scenario {

std::string fileBytes(const std::string& path) {
  std::string bytes;
  std::FILE* file = std::fopen(path.c_str(), "rb");  // binary: no newline translation
  if (file == nullptr) return bytes;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  std::fclose(file);
  return bytes;
}

bool fileExists(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

int32_t int32At(const std::string& bytes, size_t offset) {
  if (offset + 4 > bytes.size()) return INT32_MIN;
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return static_cast<int32_t>(value);
}

std::string int32Bytes(std::initializer_list<int32_t> values) {
  std::string bytes;
  for (const int32_t value : values)
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF));
  return bytes;
}

void removeDatabaseFiles(const std::string& baseName) {
  for (const char* extension : {".str", ".dat", ".idx"}) std::remove((baseName + extension).c_str());
}

}  // namespace scenario
