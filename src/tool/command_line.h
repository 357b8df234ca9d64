#pragma once
// The arguments of one command: BASE, options that take a value and flags.
// Each command names the options it accepts; anything else is a usage error.

#include <map>
#include <set>
#include <string>
#include <vector>

namespace mero::tool {

struct OptionSet {
  std::vector<std::string> withValue;  // e.g. "--format"
  std::vector<std::string> flags;      // e.g. "--force"
  bool arguments = false;              // takes arguments after BASE (get KEY, put VALUE...)
};

class CommandLine {
 public:
  // Parses args (after the command name). False with a message on a usage error.
  bool parse(const std::vector<std::string>& args, const OptionSet& accepted, std::string& error);

  const std::string& base() const { return base_; }
  bool flag(const std::string& name) const { return flags_.count(name) != 0; }
  bool has(const std::string& name) const { return values_.count(name) != 0; }
  std::string value(const std::string& name, const std::string& fallback = "") const;
  // The arguments after BASE, for commands that take them.
  const std::vector<std::string>& arguments() const { return arguments_; }

 private:
  std::string base_;
  std::map<std::string, std::string> values_;
  std::set<std::string> flags_;
  std::vector<std::string> arguments_;
};

}  // namespace mero::tool
