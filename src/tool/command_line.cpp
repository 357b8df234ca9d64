#include "tool/command_line.h"

#include <algorithm>

#include "engine/file_names.h"
#include "platform/file.h"

namespace mero::tool {

namespace {
bool listed(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}
}  // namespace

bool CommandLine::parse(const std::vector<std::string>& args, const OptionSet& accepted, std::string& error) {
  bool optionsEnded = false;  // after "--", a value that begins with "--" is a value
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg == "--" && accepted.arguments && !optionsEnded) {
      optionsEnded = true;
      continue;
    }
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0 && !optionsEnded) {
      std::string value;
      const size_t equals = arg.find('=');
      const bool inlineValue = equals != std::string::npos;
      if (inlineValue) {
        value = arg.substr(equals + 1);
        arg.resize(equals);
      }
      if (listed(accepted.flags, arg) && !inlineValue) {
        flags_.insert(arg);
      } else if (listed(accepted.withValue, arg)) {
        if (!inlineValue) {
          if (i + 1 >= args.size()) {
            error = arg + " needs a value";
            return false;
          }
          value = args[++i];
        }
        values_[arg] = value;
      } else {
        error = "unknown option " + args[i];
        return false;
      }
    } else if (base_.empty() && !arg.empty()) {
      base_ = arg;
    } else if (accepted.arguments && !base_.empty()) {
      arguments_.push_back(arg);
    } else {
      error = "unexpected argument " + arg;
      return false;
    }
  }
  if (base_.empty()) {
    error = "no database named (BASE)";
    return false;
  }
  // A base named by one of its files (db.str) means that file's database,
  // unless a database of that very name exists.
  if (!File::exists(schemaFileName(base_))) base_ = baseNameOfFile(base_);
  return true;
}

std::string CommandLine::value(const std::string& name, const std::string& fallback) const {
  const auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

}  // namespace mero::tool
