// csv: streaming rows through the column formulas, RFC 4180 quoting, failing
// rows, --strict and bad input.
#include "ToolRunner.h"

#include <algorithm>

namespace calquor::tool::test {
namespace {

using CsvTest = ToolTest;

// Embedded comma, doubled quote, line break inside quotes, CRLF line ends,
// blanks that belong to the field, and an empty cell.
const char* const kOrders =
    "Name,Unit Price,Qty,Day,Note\r\n"
    "\"Smith, J\",2.5,4,2004-01-14,plain\r\n"
    "\"say \"\"hi\"\"\",1,3,2004-01-31,\" padded \"\r\n"
    "\"two\nlines\",0.5,10,2004-02-29,\r\n";

TEST_F(CsvTest, AddsColumnsAndKeepsQuotedFields) {
    const std::string input = WriteFile("orders.csv", kOrders);
    const ToolResult result = Run({"csv", input, "--column", "Total={UnitPrice}*{Qty}", "--column",
                                   "Due=AddMonths({Day}, 1)", "--column", "Big=@Total > 5", "--column",
                                   "NoteLength=Length({Note})"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "Name,Unit Price,Qty,Day,Note,Total,Due,Big,NoteLength\n"
              "\"Smith, J\",2.5,4,2004-01-14,plain,10,2004-02-14,true,5\n"
              "\"say \"\"hi\"\"\",1,3,2004-01-31,\" padded \",3,2004-02-29,false,8\n"
              "\"two\nlines\",0.5,10,2004-02-29,,5,2004-03-29,false,0\n");
}

TEST_F(CsvTest, WritesTheOutputFileAndReadsItBack) {
    const std::string input = WriteFile("orders.csv", kOrders);
    const std::string first = Path("first.csv");
    ToolResult result = Run({"csv", input, "--column", "Due=AddDays({Day}, 1)", "-o", first});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "");
    // The ISO dates written by the first run are dates again in the second.
    result = Run({"csv", first, "--column", "Month=GetMonth({Due})"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find(",2004-01-15,1\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(",2004-03-01,3\n"), std::string::npos) << result.out;
}

TEST_F(CsvTest, NamedColumnsComeFromTheFormulasFile) {
    const std::string input = WriteFile("orders.csv", kOrders);
    const std::string formulas = WriteFile("f.txt", "Total = {UnitPrice} * {Qty}\nUnused = 1 +\n");
    const ToolResult result = Run({"csv", input, "--formulas", formulas, "--column", "Total", "--column",
                                   "Double=@Total * 2"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("plain,10,20\n"), std::string::npos) << result.out;
}

TEST_F(CsvTest, HeadersBecomeOperandNames) {
    const std::string input = WriteFile("h.csv",
                                        "\xEF\xBB\xBFOrder-ID,unit price,Unit Price,%\n"
                                        "7,2,3,x\n");
    const ToolResult result = Run({"csv", input, "--column", "R={OrderID} + {unitprice} * 10"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Order-ID,unit price,Unit Price,%,R\n7,2,3,x,27\n");  // the BOM is dropped
    // {UnitPrice} differs from {unitprice} only in case: both are known. The
    // header without letters or digits gets a warning.
    EXPECT_NE(result.err.find("column 4 ('%') has no letters or digits"), std::string::npos) << result.err;
}

TEST_F(CsvTest, SameOperandNameTwiceWarnsAndUsesTheFirst) {
    const std::string input = WriteFile("h.csv", "Unit Price,UnitPrice\n1,2\n");
    const ToolResult result = Run({"csv", input, "--column", "P={UnitPrice}"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "Unit Price,UnitPrice,P\n1,2,1\n");
    EXPECT_NE(result.err.find("column 2 ('UnitPrice') is also {UnitPrice}"), std::string::npos) << result.err;
}

const char* const kWithBadRow =
    "Item,Qty\n"
    "a,2\n"
    "b,many\n"
    "c,3\n";

TEST_F(CsvTest, FailingRowGetsEmptyCellsAndOneLinePerFailure) {
    const std::string input = WriteFile("bad-row.csv", kWithBadRow);
    const ToolResult result = Run({"csv", input, "--column", "Twice={Qty} * 2", "--column", "Name=UpperCase({Item})"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "Item,Qty,Twice,Name\na,2,4,A\nb,many,,B\nc,3,6,C\n");
    EXPECT_NE(result.err.find("calquor: row 2 (line 3), column Twice: error "), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;  // + the summary
    EXPECT_NE(result.err.find("1 of 3 rows had a failing formula"), std::string::npos) << result.err;
}

TEST_F(CsvTest, StrictStopsAtTheFirstFailure) {
    const std::string input = WriteFile("bad-row.csv", kWithBadRow);
    const ToolResult result = Run({"csv", input, "--strict", "--column", "Twice={Qty} * 2"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "Item,Qty,Twice\na,2,4\n");
    EXPECT_NE(result.err.find("row 2 (line 3), column Twice"), std::string::npos) << result.err;
}

TEST_F(CsvTest, ColumnFormulaThatDoesNotCompileStopsBeforeReading) {
    const std::string input = WriteFile("orders.csv", kOrders);
    const ToolResult result = Run({"csv", input, "--column", "T={Qty} * * 2"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("column T:\n{Qty} * * 2\n"), std::string::npos) << result.err;
}

TEST_F(CsvTest, UnknownNamesStopBeforeTheFirstRow) {
    const std::string input = WriteFile("orders.csv", kOrders);
    const std::string formulas = WriteFile("f.txt", "Net = {UnitPrice} * {Quantity}\n");
    ToolResult result = Run({"csv", input, "--column", "T={Qty} + {Qtty}"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("column T:\n{Qty} + {Qtty}\n        ^\noffset 8: unknown operand {Qtty}"),
              std::string::npos)
        << result.err;

    result = Run({"csv", input, "--formulas", formulas, "--column", "Total=@Net + 1"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("named formula Net: unknown operand {Quantity}"), std::string::npos) << result.err;
}

TEST_F(CsvTest, BadInputExitsWithTwoAndSaysWhere) {
    const std::string good = WriteFile("good.csv", "a,b\n1,2\n");
    struct Row {
        std::string name;     // file name, empty for none
        std::string content;  // its bytes
        std::vector<std::string> columns;
        std::string message;  // part of stderr
    };
    const Row rows[] = {
        {"quote.csv", "a,b\n1,2\n3,4\"\n", {"c={a}"}, "quote.csv:3: malformed CSV"},
        {"after.csv", "a,b\n1,\"2\"x\n", {"c={a}"}, "after.csv:2: malformed CSV"},
        {"open.csv", "a,b\n1,2\n3,\"4\n5\n", {"c={a}"}, "open.csv:3: malformed CSV"},
        {"width.csv", "a,b\n1,2\n\"x\ny\",2,3\n", {"c={a}"}, "width.csv:3: expected 2 fields, found 3"},
        {"utf8.csv", "a,b\n1,2\n3,caf\xE9\n", {"c={a}"}, "utf8.csv:3: field 2: invalid UTF-8 byte 0xE9"},
        {"nul.csv", std::string("a,b\n1,x\0y\n", 10), {"c={a}"}, "nul.csv:2: field 2: NUL byte"},
        {"empty.csv", "", {"c={a}"}, "empty.csv: empty file"},
        {"", "", {"c={a}"}, "cannot open"},
        {"clash.csv", "a,b\n1,2\n", {"b={a}"}, "--column b: the input already has a column of that name"},
        {"twice.csv", "a,b\n1,2\n", {"c={a}", "c=1"}, "--column c is given twice"},
        {"noname.csv", "a,b\n1,2\n", {"c"}, "--column c: no named formula c"},
        {"badname.csv", "a,b\n1,2\n", {"my col=1"}, "'my col' is not a column name"},
        {"long.csv", "a,b\n1,2\n", {"c=" + std::string(1024, '1')}, "at most 1023"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name + " " + Joined(row.columns));
        const std::string input = row.name.empty() ? Path("absent.csv") : WriteFile(row.name, row.content);
        std::vector<std::string> args{"csv", input};
        for (const std::string& column : row.columns) args.insert(args.end(), {"--column", column});
        const ToolResult result = Run(args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    }

    ToolResult result = Run({"csv", Path("."), "--column", "c=1"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("cannot read"), std::string::npos) << result.err;

    result = Run({"csv", good, "--column", "c=1", "-o", good});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("is the input file"), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(good), "a,b\n1,2\n") << "the input is untouched";

    result = Run({"csv", good});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("--column is required"), std::string::npos) << result.err;
}

// The shipped example: every named formula works on every row.
TEST_F(CsvTest, ShippedExampleCalculatesCleanly) {
    const std::string dir = std::string(CALQUOR_SOURCE_DIR) + "/examples/";
    const std::string formulas = ReadFile(dir + "orders.formulas");
    std::vector<std::string> args{"csv", dir + "orders.csv", "--formulas", dir + "orders.formulas"};
    std::istringstream lines(formulas);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t equals = line.find(" = ");
        if (!line.empty() && line[0] != '#' && equals != std::string::npos)
            args.insert(args.end(), {"--column", line.substr(0, equals)});
    }
    ASSERT_GT(args.size(), 20u);
    const ToolResult result = Run(args);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("Order ID,Order Date,", 0), 0u);
    EXPECT_NE(result.out.find("\n10300,"), std::string::npos) << "all 300 orders";
}

}  // namespace
}  // namespace calquor::tool::test
