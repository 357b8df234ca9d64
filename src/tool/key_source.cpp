#include "tool/key_source.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/modified_utf8.h"
#include "tool/exit_status.h"

namespace mero::tool {

namespace {
bool readWholeFile(const std::string& path, std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, got);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}
}  // namespace

int loadKey(const CommandLine& line, const std::string& fileOption, bool useEnvironment, std::string& key,
            std::string& error) {
  std::string text;
  if (line.has(fileOption)) {
    const std::string path = line.value(fileOption);
    if (!readWholeFile(path, text)) {
      error = "cannot read the key file " + path + ": " + std::strerror(errno);
      return kUnreadable;
    }
    // An editor's newline at the end is not part of the key.
    if (!text.empty() && text.back() == '\n') {
      text.pop_back();
      if (!text.empty() && text.back() == '\r') text.pop_back();
    }
  } else if (const char* env = useEnvironment ? std::getenv("MERO_KEY") : nullptr; env != nullptr) {
    text = env;
  } else {
    error = useEnvironment ? "this command needs the key: give it in a file with " + fileOption +
                                 " FILE, or in the environment variable MERO_KEY"
                           : "this command needs " + fileOption + " FILE";
    return kUsage;
  }
  key.clear();
  if (!utf8ToModified(text, key)) {
    error = "the key is not valid UTF-8";
    return kUsage;
  }
  // An empty key leaves values unenciphered: that must be meant, not an
  // empty variable or file by mistake.
  if (key.empty() && !line.flag("--empty-key")) {
    error = "the key (" + (line.has(fileOption) ? "in " + line.value(fileOption) : std::string("MERO_KEY")) +
            ") is empty: values would be stored without a cipher; give --empty-key if that is meant";
    return kUsage;
  }
  return kSuccess;
}

}  // namespace mero::tool
