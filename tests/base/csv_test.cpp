#include "base/csv.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {
namespace {

constexpr std::string_view kColumns[] = {"name", "group", "allow"};

std::string ErrorOf(std::string_view text) {
  try {
    ReadClassList(text, "class.csv", kColumns);
  } catch (const CsvError& e) {
    return e.what();
  }
  return "no error";
}

TEST(CsvTest, QuotingLineEndsAndBlankLines) {
  const std::vector<CsvRecord> records = ParseCsv(
      "\xEF\xBB\xBFname,allow\r\n"
      "\r\n"
      "Anna,\"calc.exe,notepad.exe\"\n"
      "  \t \n"
      "\"Bo \"\"B\"\"\",\"two\r\nlines\"\n"
      "Cy,\n"
      "Di,last",
      "class.csv");
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].cells, (std::vector<std::string>{"name", "allow"}));
  EXPECT_EQ(records[1].line, 3u);
  EXPECT_EQ(records[1].cells, (std::vector<std::string>{"Anna", "calc.exe,notepad.exe"}));
  EXPECT_EQ(records[2].line, 5u);
  EXPECT_EQ(records[2].cells, (std::vector<std::string>{"Bo \"B\"", "two\r\nlines"}));
  EXPECT_EQ(records[3].line, 7u);  // the quoted line break counts
  EXPECT_EQ(records[3].cells, (std::vector<std::string>{"Cy", ""}));
  EXPECT_EQ(records[4].cells, (std::vector<std::string>{"Di", "last"}));
}

TEST(CsvTest, MalformedCellsNameTheirLineAndColumn) {
  auto error = [](std::string_view text) {
    try {
      ParseCsv(text, "f.csv");
    } catch (const CsvError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(error("a,b\nx,\"open\n\nstill open"),
            "f.csv, line 2, column 2: the quoted cell never closes");
  EXPECT_EQ(error("a,b\nx,y\"z\n"),
            "f.csv, line 2, column 2: a quote inside a cell that does not begin with one");
  EXPECT_EQ(error("a,\"b\"c\n"), "f.csv, line 1, column 2: text after the closing quote of a cell");
  EXPECT_EQ(error(std::string_view("a\0b", 3)), "f.csv, line 1, column 1: a zero byte");
}

TEST(CsvTest, ClassListHeaderAndRows) {
  const ClassList list = ReadClassList("Name , GROUP\n anna , Pupils\nBen,\n", "c.csv", kColumns);
  EXPECT_EQ(list.columns, (std::vector<std::string>{"name", "group"}));
  EXPECT_EQ(list.Column("Group"), 1u);
  EXPECT_FALSE(list.Column("allow"));
  ASSERT_EQ(list.rows.size(), 2u);
  EXPECT_EQ(list.rows[0].cells, (std::vector<std::string>{"anna", "Pupils"}));
  EXPECT_EQ(list.rows[1].line, 3u);
}

TEST(CsvTest, ClassListFaultsNameLineAndColumn) {
  EXPECT_EQ(ErrorOf(""), "class.csv, line 1: no header line naming the columns");
  EXPECT_EQ(ErrorOf("group,allow\n"), "class.csv, line 1: the header names no column \"name\"");
  EXPECT_EQ(ErrorOf("name,colour\n"),
            "class.csv, line 1, column 2: unknown column \"colour\" (known: name, group, allow)");
  EXPECT_EQ(ErrorOf("name,NAME\n"),
            "class.csv, line 1, column 2: the column \"name\" is named twice");
  EXPECT_EQ(ErrorOf("group,name\nA,\n"), "class.csv, line 2, column 2: the name is empty");
  EXPECT_EQ(ErrorOf("name,group\nanna\n"),
            "class.csv, line 2: 1 cells where the header names 2 columns");
  EXPECT_EQ(ErrorOf("group,name\nx,Anna\n\ny,ben\nz,ANNA\n"),
            "class.csv, line 5, column 2: the name \"ANNA\" is on line 2 already (letter case "
            "does not tell names apart)");
}

TEST(CsvTest, TenThousandRows) {
  std::string text = "name,group\n";
  for (int i = 0; i < 10000; ++i) text += "pupil" + std::to_string(i) + ",\"Class, A\"\n";
  const ClassList list = ReadClassList(text, "c.csv", kColumns);
  ASSERT_EQ(list.rows.size(), 10000u);
  EXPECT_EQ(list.rows.back().line, 10001u);
  EXPECT_EQ(list.rows.back().cells[1], "Class, A");
  text += "Pupil17,x\n";
  EXPECT_EQ(ErrorOf(text),
            "class.csv, line 10002, column 1: the name \"Pupil17\" is on line 19 "
            "already (letter case does not tell names apart)");
}

}  // namespace
}  // namespace tarnwick
