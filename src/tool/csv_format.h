#pragma once
// CSV as RFC 4180 has it: fields separated by commas, records ended by CRLF,
// a field quoted when it holds a comma, a quote, CR or LF (quotes doubled
// inside). The reader also takes LF alone as a record end.

#include <string>
#include <string_view>
#include <vector>

#include "tool/input_source.h"

namespace mero::tool {

// Appends one field. quoteEmpty: an empty field is written as "" (a record
// of one empty field would otherwise be an empty line).
void appendCsvField(std::string& out, std::string_view value, bool quoteEmpty);

class CsvReader {
 public:
  explicit CsvReader(InputSource& in) : in_(in) {}

  enum class Result { row, end, error };
  // Reads the next record's fields. On error, a message naming the line.
  Result next(std::vector<std::string>& fields, std::string& error);
  long line() const { return recordLine_; }
  // Whether the last field read was quoted ("" is a value; nothing is not).
  bool lastFieldQuoted() const { return lastQuoted_; }

 private:
  InputSource& in_;
  long lineNumber_ = 1;
  long recordLine_ = 0;
  bool lastQuoted_ = false;
};

}  // namespace mero::tool
