#include "tool/key_source.h"

#include <cstdio>
#include <cstdlib>

#include "tool/modified_utf8.h"

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

bool loadKey(const CommandLine& line, const std::string& fileOption, bool useEnvironment, std::string& key,
             std::string& error) {
  std::string text;
  if (line.has(fileOption)) {
    const std::string path = line.value(fileOption);
    if (!readWholeFile(path, text)) {
      error = "cannot read the key file " + path;
      return false;
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
    return false;
  }
  key.clear();
  if (!utf8ToModified(text, key)) {
    error = "the key is not valid UTF-8";
    return false;
  }
  return true;
}

}  // namespace mero::tool
