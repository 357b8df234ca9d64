#include "tool/record_rows.h"

#include "tool/csv_format.h"
#include "tool/json_lines.h"

namespace mero::tool {

void appendCsvRow(std::string& out, const std::vector<std::string>& fields) {
  for (size_t f = 0; f < fields.size(); ++f) {
    if (f > 0) out.push_back(',');
    appendCsvField(out, fields[f], fields.size() == 1);
  }
  out.append("\r\n");
}

void appendJsonRow(std::string& out, const std::vector<std::string>& names, const std::vector<std::string>& fields) {
  out.push_back('{');
  for (size_t f = 0; f < fields.size(); ++f) {
    if (f > 0) out.push_back(',');
    appendJsonString(out, names[f]);
    out.push_back(':');
    appendJsonString(out, fields[f]);
  }
  out.append("}\n");
}

}  // namespace mero::tool
