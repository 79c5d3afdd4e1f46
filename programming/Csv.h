#pragma once
// Comma-separated text as spreadsheets write and read it: quoted fields may hold the separator,
// quotes (doubled) and line breaks.

#include <string>
#include <string_view>
#include <vector>

namespace vardelio {

using TCsvRecord = std::vector<std::string>;

// The records of a text; each record keeps the number of the line it starts on. LF or CR LF
// ends a record outside quotes; a record of one empty field (a blank line) is skipped.
struct TCsvRecords {
  std::vector<TCsvRecord> records;
  std::vector<int> lines;
};
TCsvRecords ParseCsv(std::string_view text, char separator = ',');

// One field, quoted when it must be. A field that a spreadsheet would take for a formula
// (it begins with = + - or @) is kept as text with a leading apostrophe.
std::string CsvField(std::string_view value);
std::string CsvLine(const TCsvRecord& record);

}  // namespace vardelio
