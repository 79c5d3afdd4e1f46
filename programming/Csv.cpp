#include "Csv.h"

namespace vardelio {

TCsvRecords ParseCsv(std::string_view text, char separator) {
  TCsvRecords out;
  TCsvRecord record;
  std::string field;
  bool quoted = false, wasQuoted = false;
  int line = 1, recordLine = 1;
  const auto endField = [&] {
    record.push_back(std::move(field));
    field.clear();
    wasQuoted = false;
  };
  const auto endRecord = [&] {
    const bool blank = record.empty() && field.empty() && !wasQuoted;
    endField();
    if (!blank) {
      out.records.push_back(std::move(record));
      out.lines.push_back(recordLine);
    }
    record.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') ++line;
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"' && field.empty()) {
      quoted = wasQuoted = true;
    } else if (c == separator) {
      endField();
    } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      if (c == '\r') {
        ++i;
        ++line;
      }
      endRecord();
      recordLine = line;
    } else {
      field += c;
    }
  }
  if (!record.empty() || !field.empty() || wasQuoted) endRecord();
  return out;
}

std::string CsvField(std::string_view value) {
  std::string text(value);
  if (!text.empty() && std::string_view("=+-@").find(text.front()) != std::string_view::npos) {
    text.insert(0, 1, '\'');
  }
  if (text.find_first_of(",;\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string CsvLine(const TCsvRecord& record) {
  std::string line;
  for (std::size_t i = 0; i < record.size(); ++i) {
    if (i > 0) line += ',';
    line += CsvField(record[i]);
  }
  return line + '\n';
}

}  // namespace vardelio
