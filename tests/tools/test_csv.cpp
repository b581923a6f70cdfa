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
    ToolResult result = Run({"csv", input, "--column", "Twice={Qty} * 2", "--column", "Name=UpperCase({Item})"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "Item,Qty,Twice,Name\na,2,4,A\nb,many,,B\nc,3,6,C\n");
    EXPECT_NE(result.err.find("calquor: row 2 (line 3), column Twice: error "), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;  // + the summary
    EXPECT_NE(result.err.find("1 of 3 rows had a failing formula"), std::string::npos) << result.err;
    result = Run({"csv", input, "--allow-failures", "--column", "Twice={Qty} * 2"});
    EXPECT_EQ(result.exitCode, 0);
}

// Many failing rows: the first 20 are shown, then a count, never a line each.
TEST_F(CsvTest, FailingRowMessagesAreCapped) {
    std::string rows = "Qty\n";
    for (int i = 0; i < 5000; ++i) rows += "x\n";
    const ToolResult result = Run({"csv", WriteFile("many.csv", rows), "--column", "T={Qty} * 2"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 22) << result.err;
    EXPECT_NE(result.err.find("row 20 (line 21)"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("4980 more failing cells not shown\n"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("5000 of 5000 rows had a failing formula"), std::string::npos) << result.err;
}

// A cell passed on is written as it came; calculated numbers in the
// shortest text that reads back as the same double; --type declares kinds.
TEST_F(CsvTest, DataPassesThroughUnchanged) {
    const std::string input = WriteFile("ids.csv",
                                        "ID,Price,Code,Qty\n"
                                        "12345678901234567,1.50,12E4,2\n"
                                        "007,2.25,0X1,many\n");
    const std::string formulas = WriteFile("f.txt", "Same = ({ID})\nAgain = @Same\n");
    ToolResult result = Run({"csv", input, "--formulas", formulas, "--column", "Again", "--column", "P={Price}",
                             "--column", "C={Code}", "--column", "Id={ID} + ''",
                             "--column", "T={Price} * 2", "--column", "Z=0.1 + 0.2", "--allow-failures"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "ID,Price,Code,Qty,Again,P,C,Id,T,Z\n"
              "12345678901234567,1.50,12E4,2,12345678901234567,1.50,12E4,12345678901234567,3,0.30000000000000004\n"
              "007,2.25,0X1,many,007,2.25,0X1,007,4.5,0.30000000000000004\n");

    result = Run({"csv", input, "--type", "Code=number", "--type", "Qty=number", "--column", "K={Code} / 10",
                  "--column", "N={Qty} + 1", "--column", "Q={Qty}"});  // Q passes a declared cell on
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out,
              "ID,Price,Code,Qty,K,N,Q\n12345678901234567,1.50,12E4,2,12000,3,2\n007,2.25,0X1,many,,,\n");
    EXPECT_NE(result.err.find("column K: {Code} '0X1' is not a number (--type)"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("column N: {Qty} 'many' is not a number (--type)"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("column Q: {Qty} 'many' is not a number (--type)"), std::string::npos) << result.err;
}

// Every formula a column reaches is compiled before the first row: each
// syntax error and each cycle is reported, and nothing is written.
TEST_F(CsvTest, FormulasAreCheckedBeforeTheFirstRow) {
    const std::string input = WriteFile("bad-row.csv", kWithBadRow);
    const std::string formulas = WriteFile("f.txt", "Bad = 1 + (2\nA = @B\nB = @A * 2\n");
    const ToolResult result = Run({"csv", input, "--formulas", formulas, "--column", "T=@Bad + 1", "--column",
                                   "X=@X", "--column", "Y=@A", "--column", "Z={Qty} +"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    for (const char* message : {"f.txt:1: named formula Bad: Unmatched left parentheses\n1 + (2\n      ^\n",
                                "reference cycle: X -> X\n", "reference cycle: A -> B -> A\n",
                                "column Z:\n{Qty} +\n"}) {
        EXPECT_NE(result.err.find(message), std::string::npos) << message << "\n" << result.err;
    }
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

    // Hostile files stop at the documented limits instead of filling memory;
    // repeated header warnings are capped.
    result = Run({"csv", WriteFile("long.csv", "a,b\n1,2\n" + std::string(3 << 20, 'x')), "--column", "c=1"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("long.csv:3: a record longer than 1 MiB"), std::string::npos) << result.err;
    std::string wide(30000, ',');
    result = Run({"csv", WriteFile("wide.csv", "a\n" + wide), "--column", "c=1"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("wide.csv:2: more than 10000 fields"), std::string::npos) << result.err;
    result = Run({"csv", WriteFile("marks.csv", "a" + std::string(5000, ',') + "\n"), "--column", "c={a}"});
    EXPECT_LT(std::count(result.err.begin(), result.err.end(), '\n'), 13) << result.err;
    EXPECT_NE(result.err.find("4990 more header warnings"), std::string::npos) << result.err;

    result = Run({"csv", good, "--column", "c=1", "-o", good});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("is the input file"), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(good), "a,b\n1,2\n") << "the input is untouched";
    // A run stopped before the first row leaves an earlier output as it was.
    const std::string earlier = WriteFile("earlier.csv", "kept\n");
    for (const char* column : {"c={zz}", "a=1"}) {
        Run({"csv", good, "--column", column, "-o", earlier});
        EXPECT_EQ(ReadFile(earlier), "kept\n") << column;
    }

    result = Run({"csv", good});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("--column is required"), std::string::npos) << result.err;
}

// Standard input and output, delimiters, TSV, no header, JSON Lines and
// input encodings.
TEST_F(CsvTest, InputAndOutputFormats) {
    struct Row {
        std::vector<std::string> args;  // after "csv INPUT"
        std::string input;
        std::string out;
    };
    const Row rows[] = {
        {{"--delimiter", ";", "--column", "T=Length({a})"}, "a;b\n1,5;x\n", "a;b;T\n1,5;x;3\n"},
        {{"--delimiter", ";", "--column", "T={a} * 2"}, "a;b\n3;\"x;y\"\n", "a;b;T\n3;\"x;y\";6\n"},
        {{"--tsv", "--column", "T={a} + 1"}, "a\tb\n1\tx\\ty\\\\z\n", "a\tb\tT\n1\tx\\ty\\\\z\t2\n"},
        {{"--no-header", "--column", "T={C1} + {C2}"}, "1,2\n3,4\n", "1,2,3\n3,4,7\n"},
        {{"--output-format", "jsonl", "--column", "T={a} * 2", "--column", "U={a} > 1", "--column", "E={b}",
          "--column", "S=UpperCase({b})"},
         "a,b\n1,\"q\"\"\"\n2,\n",
         "{\"a\":\"1\",\"b\":\"q\\\"\",\"T\":2,\"U\":false,\"E\":\"q\\\"\",\"S\":\"Q\\\"\"}\n"
         "{\"a\":\"2\",\"b\":\"\",\"T\":4,\"U\":true,\"E\":\"\",\"S\":\"\"}\n"},
        {{"--output-format", "jsonl", "--allow-failures", "--column", "T={a} * 2"}, "a\nx\n",
         "{\"a\":\"x\",\"T\":null}\n"},
        // A lone CR ends a record, even before a quoted field that goes on
        // over the next line.
        {{"--column", "T={b}"}, "a,b\r1,\"x\ny\"\r\n2,3\n", "a,b,T\n1,\"x\ny\",\"x\ny\"\n2,3,3\n"},
        {{"--output-format", "tsv", "--column", "T={a}"}, "a\n\"x\ty\"\n", "a\tT\nx\\ty\tx\\ty\n"},
        {{"--encoding", "latin1", "--column", "T=UpperCase({a})"}, "a\ncaf\xE9\n", "a,T\ncaf\xC3\xA9,CAF\xC3\xA9\n"},
        {{"--encoding", "windows-1252", "--column", "T={a}"}, "a\n\x80\n", "a,T\n\xE2\x82\xAC,\xE2\x82\xAC\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Joined(row.args));
        std::vector<std::string> args{"csv", "-"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        args.insert(args.end(), {"-o", "-"});
        const ToolResult result = Run(args, row.input);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, row.out);
    }
    ToolResult result = Run({"csv", "-", "--encoding", "windows-1252", "--column", "T={a}"}, "a\nx\n\x81\n");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("standard input:3: byte 0x81 is not windows-1252"), std::string::npos) << result.err;
    result = Run({"csv", "-", "--encoding", "klingon", "--column", "T={a}"}, "a\n1\n");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("unknown encoding 'klingon'"), std::string::npos) << result.err;
    result = Run({"csv", "-", "--output-format", "jsonl", "--column", "T=1"}, "a,b,a\n1,2,3\n");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("standard input:1: the header names 'a' twice"), std::string::npos) << result.err;
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
