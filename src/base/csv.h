// Comma-separated text as spreadsheets write it, and a class list read from it: a header line
// naming the columns, then one row a line.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace tarnwick {

// The text names the file, the line and, where one is to blame, the column.
class CsvError : public Error {
 public:
  using Error::Error;
};

struct CsvRecord {
  size_t line = 0;  // where the record begins, counted from 1
  std::vector<std::string> cells;
};

// Cells are separated by commas; a cell in double quotes may hold commas, line breaks and "" for
// a quote. Lines end in LF or CR LF. Blank lines (only blanks and tabs) are skipped. A UTF-8 byte
// order mark at the start is dropped. Throws CsvError for a quote inside an unquoted cell, text
// after a closing quote, a quoted cell that never closes, and a zero byte.
std::vector<CsvRecord> ParseCsv(std::string_view text, const std::string& fileName);

struct ClassListRow {
  size_t line = 0;
  std::vector<std::string> cells;  // one per column, blanks around each dropped
};

struct ClassList {
  std::vector<std::string> columns;  // as the header names them, in lower case
  std::vector<ClassListRow> rows;
  // The index of a column, or none when the header does not name it.
  std::optional<size_t> Column(std::string_view name) const;
};

// A class list: the first record names the columns, each one of known (letters compared without
// regard to case), each at most once, "name" among them. Every row has a cell for every column
// and a name that no earlier row has in any letter case. Throws CsvError naming the line and
// column of the first fault.
ClassList ReadClassList(std::string_view text, const std::string& fileName,
                        std::span<const std::string_view> known);

// "FILE, line L, column C: what" (column 0: no column).
std::string CsvPlace(const std::string& fileName, size_t line, size_t column);

}  // namespace tarnwick
