#pragma once
// Records as rows of text, the same for every command that prints them
// (export, get, find): CSV (RFC 4180, a header row of field names) or JSON
// Lines (one object per record, keyed by field name), values in UTF-8.

#include <string>
#include <vector>

namespace mero::tool {

enum class RowFormat { csv, jsonl };

void appendCsvRow(std::string& out, const std::vector<std::string>& fields);
void appendJsonRow(std::string& out, const std::vector<std::string>& names, const std::vector<std::string>& fields);

}  // namespace mero::tool
