#include "base/csv.h"

#include <unordered_map>

#include "base/text.h"

namespace tarnwick {

namespace {

bool IsBlankLine(std::string_view text, size_t from, size_t* end) {
  size_t i = from;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
  if (i < text.size() && text[i] != '\n') return false;
  *end = i == text.size() ? i : i + 1;
  return true;
}

[[noreturn]] void Fail(const std::string& fileName, size_t line, size_t column,
                       const std::string& what) {
  throw CsvError(CsvPlace(fileName, line, column) + what);
}

}  // namespace

std::string CsvPlace(const std::string& fileName, size_t line, size_t column) {
  std::string place = fileName + ", line " + std::to_string(line);
  if (column != 0) place += ", column " + std::to_string(column);
  return place + ": ";
}

std::vector<CsvRecord> ParseCsv(std::string_view text, const std::string& fileName) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<CsvRecord> records;
  size_t line = 1;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = 0;
    if (IsBlankLine(text, i, &end)) {
      i = end;
      ++line;
      continue;
    }
    CsvRecord record{line, {}};
    for (;;) {  // one cell
      std::string cell;
      const size_t column = record.cells.size() + 1;
      if (i < text.size() && text[i] == '"') {
        const size_t openLine = line;
        ++i;
        for (;;) {
          if (i == text.size()) Fail(fileName, openLine, column, "the quoted cell never closes");
          const char c = text[i++];
          if (c == '"') {
            if (i < text.size() && text[i] == '"') {
              cell += '"';
              ++i;
              continue;
            }
            break;
          }
          if (c == '\0') Fail(fileName, line, column, "a zero byte");
          if (c == '\n') ++line;
          cell += c;
        }
        if (i < text.size() && text[i] != ',' && text[i] != '\n' &&
            !(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
          Fail(fileName, line, column, "text after the closing quote of a cell");
        }
      } else {
        while (i < text.size() && text[i] != ',' && text[i] != '\n' &&
               !(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
          if (text[i] == '"') {
            Fail(fileName, line, column, "a quote inside a cell that does not begin with one");
          }
          if (text[i] == '\0') Fail(fileName, line, column, "a zero byte");
          cell += text[i++];
        }
      }
      record.cells.push_back(std::move(cell));
      if (i < text.size() && text[i] == ',') {
        ++i;
        continue;
      }
      break;
    }
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
    ++line;
    records.push_back(std::move(record));
  }
  return records;
}

std::optional<size_t> ClassList::Column(std::string_view name) const {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (EqualsIgnoreCase(columns[i], name)) return i;
  }
  return std::nullopt;
}

ClassList ReadClassList(std::string_view text, const std::string& fileName,
                        std::span<const std::string_view> known) {
  std::vector<CsvRecord> records = ParseCsv(text, fileName);
  if (records.empty()) Fail(fileName, 1, 0, "no header line naming the columns");
  ClassList list;
  const CsvRecord& header = records.front();
  for (size_t c = 0; c < header.cells.size(); ++c) {
    std::string lower(Trim(header.cells[c]));
    for (char& ch : lower) {
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    }
    bool isKnown = false;
    for (std::string_view k : known) isKnown = isKnown || EqualsIgnoreCase(k, lower);
    if (!isKnown) {
      std::string names;
      for (std::string_view k : known) names += (names.empty() ? "" : ", ") + std::string(k);
      Fail(fileName, header.line, c + 1,
           "unknown column \"" + std::string(Trim(header.cells[c])) + "\" (known: " + names + ")");
    }
    if (list.Column(lower)) {
      Fail(fileName, header.line, c + 1, "the column \"" + lower + "\" is named twice");
    }
    list.columns.push_back(lower);
  }
  const std::optional<size_t> nameColumn = list.Column("name");
  if (!nameColumn) Fail(fileName, header.line, 0, "the header names no column \"name\"");
  std::unordered_map<std::string, size_t> seen;  // upper-case name -> line
  for (size_t r = 1; r < records.size(); ++r) {
    CsvRecord& record = records[r];
    if (record.cells.size() != list.columns.size()) {
      Fail(fileName, record.line, 0,
           std::to_string(record.cells.size()) + " cells where the header names " +
               std::to_string(list.columns.size()) + " columns");
    }
    ClassListRow row{record.line, {}};
    for (std::string& cell : record.cells) row.cells.emplace_back(Trim(cell));
    const std::string& name = row.cells[*nameColumn];
    if (name.empty()) Fail(fileName, row.line, *nameColumn + 1, "the name is empty");
    const auto [at, inserted] = seen.emplace(UpperAscii(name), row.line);
    if (!inserted) {
      Fail(fileName, row.line, *nameColumn + 1,
           "the name \"" + name + "\" is on line " + std::to_string(at->second) +
               " already (letter case does not tell names apart)");
    }
    list.rows.push_back(std::move(row));
  }
  return list;
}

}  // namespace tarnwick
