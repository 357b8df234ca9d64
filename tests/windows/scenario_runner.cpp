// Runs the shared scenarios (tests/scenarios, format in its README) against
// the library's exports through the stand-in JNI environment. Built natively
// against libMERO_Database.so, and with MinGW as wine_driver.exe against
// MERO_Database.dll under Wine (loaded with LoadLibrary, bound by name).
//
// Usage: scenario_runner LIBRARY SCENARIO_DIR WORK_DIR
// Each scenario runs in WORK_DIR/<its name>/ and stops at its first wrong
// answer. Prints every failure, then "N passed, M failed"; exit status 0
// when every scenario passed, 1 otherwise, 2 on a usage or load error.

#include <jni.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fake_jni.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>

#include <thread>
#endif

namespace {

namespace fs = std::filesystem;
using fakejni::Env;

#ifdef _WIN32
HMODULE library = nullptr;
void* symbol(const std::string& name) { return reinterpret_cast<void*>(GetProcAddress(library, name.c_str())); }
#else
void* library = nullptr;
void* symbol(const std::string& name) { return dlsym(library, name.c_str()); }
#endif

// Calls the export for method with the calling object null, as the library never uses it.
template <typename Result, typename... Args>
Result native(const char* method, JNIEnv* env, Args... args) {
  void* address = symbol(std::string("Java_DatabaseMarshall_") + method);
  if (address == nullptr) std::printf("FAIL: the library does not export %s\n", method), std::exit(1);
  return reinterpret_cast<Result(JNICALL*)(JNIEnv*, jobject, Args...)>(address)(env, nullptr, args...);
}

void runThreads(int count, const std::function<void(int)>& body) {
#ifdef _WIN32
  struct Start {
    const std::function<void(int)>* body;
    int thread;
  };
  std::vector<Start> starts(count);
  std::vector<HANDLE> threads;
  for (int t = 0; t < count; ++t) {
    starts[t] = {&body, t};
    threads.push_back(CreateThread(
        nullptr, 0,
        [](void* start) -> DWORD {
          (*static_cast<Start*>(start)->body)(static_cast<Start*>(start)->thread);
          return 0;
        },
        &starts[t], 0, nullptr));
  }
  WaitForMultipleObjects(static_cast<DWORD>(count), threads.data(), TRUE, INFINITE);
  for (HANDLE thread : threads) CloseHandle(thread);
#else
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) threads.emplace_back(body, t);
  for (std::thread& thread : threads) thread.join();
#endif
}

// A bare word, a quoted string (as modified UTF-8) or a list.
struct Value {
  std::string text;
  bool quoted = false;
  bool isList = false;
  std::vector<Value> items;
  bool isNull() const { return !quoted && !isList && text == "null"; }
};

// One UTF-16 unit as modified UTF-8: U+0000 as C0 80, each surrogate alone.
void appendUnit(std::string& out, unsigned long u) {
  if (u != 0 && u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | u >> 6);
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | u >> 12);
    out += static_cast<char>(0x80 | (u >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

class Parser {
 public:
  explicit Parser(const std::string& s) : s_(s) {}

  std::vector<Value> all() {
    std::vector<Value> values;
    while (skip() < s_.size()) values.push_back(next());
    return values;
  }

 private:
  size_t skip() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    return i_;
  }

  Value next() {
    Value v;
    if (s_[skip()] == '[') {
      v.isList = true;
      ++i_;
      if (s_[skip()] != ']') {
        do v.items.push_back(next());
        while (s_[skip()] != ']' && s_[i_++] == ',');
      }
      ++i_;
    } else if (s_[i_] == '"') {
      v.quoted = true;
      for (++i_; i_ < s_.size() && s_[i_] != '"'; ++i_) {
        if (s_[i_] == '\\' && s_[++i_] == 'u') {
          appendUnit(v.text, std::stoul(s_.substr(i_ + 1, 4), nullptr, 16));
          i_ += 4;
        } else {
          v.text += s_[i_];
        }
      }
      if (++i_ < s_.size() && s_[i_] == '*') {
        size_t digits = 0;
        const long times = std::stol(s_.substr(i_ + 1), &digits);
        const std::string once = std::exchange(v.text, "");
        for (long k = 0; k < times; ++k) v.text += once;
        i_ += 1 + digits;
      }
    } else {
      const size_t start = i_;
      while (i_ < s_.size() && !std::isspace(static_cast<unsigned char>(s_[i_])) && !std::strchr(",[]\"", s_[i_])) ++i_;
      v.text = s_.substr(start, i_ - start);
    }
    return v;
  }

  const std::string& s_;
  size_t i_ = 0;
};

// The one text form that answers and expectations are compared in.
std::string show(const std::string& bytes) {
  bool bare = !bytes.empty() && bytes != "null";
  for (const unsigned char c : bytes) bare = bare && c > 0x20 && c < 0x7F && !std::strchr(",[]\"\\", c);
  if (bare) return bytes;
  std::string out = "\"";
  for (const unsigned char c : bytes) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02x", c);
    out += c >= 0x20 && c < 0x7F && c != '"' && c != '\\' ? std::string(1, static_cast<char>(c)) : escape;
  }
  return out + '"';
}

std::string show(int32_t n) { return std::to_string(n); }

template <typename T>
std::string show(const std::optional<std::vector<T>>& values) {
  if (!values) return "null";
  std::string out;
  for (const T& value : *values) out += "," + show(value);
  return "[" + out.substr(out.empty() ? 0 : 1) + "]";
}

std::string show(const Value& v) { return v.isList ? show(std::optional(v.items)) : v.quoted ? show(v.text) : v.text; }

std::string flag(jboolean b) { return b == JNI_TRUE ? "true" : b == JNI_FALSE ? "false" : std::to_string(b); }

std::optional<std::string> string(const Value& v) { return v.isNull() ? std::nullopt : std::optional(v.text); }

std::optional<std::vector<std::optional<std::string>>> strings(const Value& v) {
  if (v.isNull()) return std::nullopt;
  std::vector<std::optional<std::string>> out;
  for (const Value& item : v.items) out.push_back(string(item));
  return out;
}

std::optional<std::vector<bool>> bools(const Value& v) {
  if (v.isNull()) return std::nullopt;
  std::vector<bool> out;
  for (const Value& item : v.items) out.push_back(item.text == "true");
  return out;
}

std::string hex(const std::string& bytes) {
  std::string out;
  char pair[4];
  for (const unsigned char c : bytes) out += (std::snprintf(pair, sizeof pair, "%02x", c), pair);
  return out;
}

// One scenario: its directory, and the offset between the process's ids and its own.
class Scenario {
 public:
  explicit Scenario(std::string dir) : dir_(std::move(dir)) {}

  // Runs one line; empty when it went as expected, else what went wrong.
  std::string step(Env& env, const std::string& line) {
    if (line.rfind("threads ", 0) == 0) return threads(line);
    std::istringstream split(line);
    std::vector<std::string> w{std::istream_iterator<std::string>(split), {}};
    if (w[0] == "file" || w[0] == "put") {
      const std::string path = dir_ + "/" + w[1];
      std::string bytes;
      for (size_t k = w[0] == "put" ? 2 : 3; k < w.size(); ++k)
        for (size_t j = 0; j + 1 < w[k].size(); j += 2)
          bytes += static_cast<char>(std::stoi(w[k].substr(j, 2), nullptr, 16));
      if (w[0] == "put") return std::ofstream(path, std::ios::binary) << bytes ? "" : "cannot write " + path;
      std::ifstream in(path, std::ios::binary);
      if (w[2] == "absent") return in.is_open() ? "the file exists" : "";
      const std::string actual{std::istreambuf_iterator<char>(in), {}};
      return in.is_open() && actual == bytes ? "" : "file holds " + (in.is_open() ? hex(actual) : "(no file)");
    }
    const std::vector<Value> v = Parser(line).all();
    const std::string actual = call(env, v);
    std::string failure;
    for (const std::string& complaint : env.endCall()) failure += "stand-in JNI: " + complaint + "; ";
    const std::string expected = show(v.back());
    if (expected != "*" && expected != actual) failure += "got " + actual + ", expected " + expected;
    return failure;
  }

 private:
  std::string call(Env& env, const std::vector<Value>& v) {
    const std::string& m = v[0].text;
    const Value* a = &v[1];
    JNIEnv* j = env.jni();
    if (m == "register") {
      const jint id =
          native<jint>("register", j, env.string(a[0].isNull() ? std::nullopt : std::optional(dir_ + "/" + a[0].text)));
      if (id > 0 && !offsetSet_) offset_ = id - std::stoi(v.back().text), offsetSet_ = true;
      return std::to_string(id > 0 ? id - offset_ : id);
    }
    const jint id = std::stoi(a[0].text) + offset_;
    if (m == "unregister" || m == "close") return flag(native<jboolean>(m.c_str(), j, id));
    if (m == "define")
      return flag(native<jboolean>("define", j, id, env.booleans(bools(a[1])), env.strings(strings(a[2]))));
    if (m == "open")
      return flag(native<jboolean>("open", j, id, env.string(string(a[1])), jboolean{a[2].text == "true"}));
    if (m == "numRecs") return std::to_string(native<jint>("numRecs", j, id));
    if (m == "getRecord" && !a[1].quoted && a[1].text.find_first_not_of("-0123456789") == std::string::npos)
      return show(env.stringsOf(native<jobjectArray>("getRecord__II", j, id, jint{std::stoi(a[1].text)})));
    if (m == "getRecord")
      return show(
          env.stringsOf(native<jobjectArray>("getRecord__ILjava_lang_String_2", j, id, env.string(string(a[1])))));
    if (m == "getPos") return std::to_string(native<jint>("getPos", j, id, env.string(string(a[1]))));
    if (m == "find")
      return show(env.intsOf(native<jintArray>("find", j, id, env.booleans(bools(a[1])), env.strings(strings(a[2])))));
    if (m == "write") return std::to_string(native<jint>("write", j, id, env.strings(strings(a[1]))));
    if (m == "updateRecord")
      return flag(native<jboolean>("updateRecord", j, id, jint{std::stoi(a[1].text)}, env.strings(strings(a[2]))));
    if (m == "deleteRecord") return flag(native<jboolean>("deleteRecord", j, id, jint{std::stoi(a[1].text)}));
    return "no method " + m;
  }

  // threads T x N: CALL -> ANSWER; ... with $t and $i substituted.
  std::string threads(const std::string& line) {
    int count = 0, rounds = 0;
    std::sscanf(line.c_str(), "threads %d x %d:", &count, &rounds);
    std::vector<std::string> calls;
    std::istringstream split(line.substr(line.find(':') + 1));
    for (std::string call; std::getline(split, call, ';');) calls.push_back(call);
    std::vector<std::string> failures(static_cast<size_t>(count));
    runThreads(count, [&](int t) {
      Env env;  // each Java thread has its own
      for (int i = 0; i < rounds; ++i) {
        for (std::string call : calls) {
          for (size_t at; (at = call.find("$t")) != std::string::npos;) call.replace(at, 2, std::to_string(t));
          for (size_t at; (at = call.find("$i")) != std::string::npos;) call.replace(at, 2, std::to_string(i));
          const std::string failure = step(env, call);
          if (!failure.empty()) failures[static_cast<size_t>(t)] += "\n  " + call + ": " + failure;
        }
      }
    });
    std::string all;
    for (const std::string& failure : failures) all += failure;
    return all;
  }

  const std::string dir_;
  int offset_ = 0;
  bool offsetSet_ = false;
};

// The scenario's lines, a trailing backslash joining a line to the next;
// returns the first failure as "file:line: text\n  what", or empty.
std::string runScenario(const fs::path& file, const fs::path& dir) {
  Scenario scenario(dir.generic_string());
  Env env;
  std::ifstream in(file);
  std::string line;
  for (int number = 1, first = 1; std::getline(in, line); first = ++number) {
    while (!line.empty() && line.back() == '\\') {
      std::string more;
      std::getline(in, more);
      line = line.substr(0, line.size() - 1) + " " + more.erase(0, more.find_first_not_of(" \t"));
      ++number;
    }
    const size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == '#') continue;
    line = line.substr(start, line.find_last_not_of(" \t\r") + 1 - start);
    const std::string failure = scenario.step(env, line);
    if (!failure.empty())
      return file.filename().string() + ":" + std::to_string(first) + ": " + line + "\n  " + failure;
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return std::printf("usage: %s LIBRARY SCENARIO_DIR WORK_DIR\n", argv[0]), 2;
#ifdef _WIN32
  library = LoadLibraryA(argv[1]);
#else
  library = dlopen(argv[1], RTLD_NOW);
#endif
  if (library == nullptr) return std::printf("cannot load %s\n", argv[1]), 2;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(argv[2]))
    if (entry.path().extension() == ".scn") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  int passed = 0, failed = 0;
  for (const fs::path& file : files) {
    const fs::path dir = fs::path(argv[3]) / file.stem();
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string failure = runScenario(file, dir);
    std::printf("%s %s%s%s\n", failure.empty() ? "ok  " : "FAIL", file.filename().string().c_str(),
                failure.empty() ? "" : "\n  ", failure.c_str());
    (failure.empty() ? passed : failed) += 1;
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}
