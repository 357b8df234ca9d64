#include "tool/csv_format.h"

namespace mero::tool {

void appendCsvField(std::string& out, std::string_view value, bool quoteEmpty) {
  if (value.find_first_of(",\"\r\n") == std::string_view::npos && !(quoteEmpty && value.empty())) {
    out.append(value);
    return;
  }
  out.push_back('"');
  for (const char c : value) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

CsvReader::Result CsvReader::next(std::vector<std::string>& fields, std::string& error) {
  fields.clear();
  recordLine_ = lineNumber_;
  if (in_.peek() < 0) {
    if (in_.failed()) error = "reading the input failed";
    return in_.failed() ? Result::error : Result::end;
  }
  std::string field;
  for (;;) {
    int c = in_.get();
    lastQuoted_ = c == '"';
    if (c == '"' && field.empty()) {
      // A quoted field: up to the lone closing quote, then a separator.
      for (;;) {
        c = in_.get();
        if (c < 0) {
          error = "line " + std::to_string(recordLine_) + ": a quoted field is not closed before the end of the input";
          return Result::error;
        }
        if (c == '\n') ++lineNumber_;
        if (c == '"') {
          if (in_.peek() != '"') break;
          in_.get();
        }
        field.push_back(static_cast<char>(c));
      }
      c = in_.get();
      if (c == '\r' && in_.peek() == '\n') c = in_.get();
      if (c >= 0 && c != ',' && c != '\n' && c != '\r') {
        error = "line " + std::to_string(lineNumber_) + ": unexpected character after a closing quote";
        return Result::error;
      }
    } else {
      while (c >= 0 && c != ',' && c != '\n' && c != '\r') {
        if (c == '"') {
          error = "line " + std::to_string(lineNumber_) + ": a quote inside an unquoted field";
          return Result::error;
        }
        field.push_back(static_cast<char>(c));
        c = in_.get();
      }
      if (c == '\r' && in_.peek() == '\n') c = in_.get();
    }
    fields.push_back(std::move(field));
    field.clear();
    if (c != ',') {
      if (c >= 0) ++lineNumber_;
      if (in_.failed()) {
        error = "reading the input failed";
        return Result::error;
      }
      return Result::row;
    }
  }
}

}  // namespace mero::tool
