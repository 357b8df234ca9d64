#pragma once
// JSON Lines: one JSON object per line. The tool writes objects whose
// values are all strings and reads back exactly that shape.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mero::tool {

// Appends a JSON string literal for UTF-8 text (control characters escaped).
void appendJsonString(std::string& out, std::string_view text);

// Parses one line holding an object of string values into its members, in
// the order they appear. The values are UTF-8 (escapes resolved). False with
// a message when the line is not such an object.
bool parseJsonObject(std::string_view line, std::vector<std::pair<std::string, std::string>>& members,
                     std::string& error);

}  // namespace mero::tool
