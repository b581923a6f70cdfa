// check: "ok", or the formula, a caret under the reported offset and the
// engine's message.
#include "ToolRunner.h"

namespace calquor::tool::test {
namespace {

using CheckTest = ToolTest;

// The caret line a reader needs: one column per character before the byte
// offset on the offset's own line, tabs kept as tabs.
std::string ExpectedCaretLine(const std::string& formula, std::size_t offset) {
    const std::size_t lineStart = offset == 0 ? 0 : formula.rfind('\n', offset - 1) + 1;
    std::string caret;
    for (std::size_t i = lineStart; i < offset; ++i) {
        const auto c = static_cast<unsigned char>(formula[i]);
        if (c == '\t') caret += '\t';
        else if ((c & 0xC0) != 0x80) caret += ' ';
    }
    return caret + "^";
}

TEST_F(CheckTest, CaretSitsUnderTheReportedOffset) {
    struct Row {
        std::string formula;
        std::size_t minOffset;  // the error lies at or after this byte
        std::string shownLine;  // the formula line printed above the caret
    };
    const Row rows[] = {
        {"1 + 2 $", 5, "1 + 2 $"},
        {"1 + * 2", 2, "1 + * 2"},
        {"(1 + 2", 1, "(1 + 2"},
        {"Round(1)", 0, "Round(1)"},
        {"'\xC3\xA9t\xC3\xA9' + $", 7, "'\xC3\xA9t\xC3\xA9' + $"},  // two-byte letters before the error
        {"\t1 +\t$", 4, "\t1 +\t$"},
        {"1 +\n2 $", 5, "2 $"},  // the line that holds the offset
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.formula);
        const ToolResult result = Run({"check", row.formula});
        EXPECT_EQ(result.exitCode, 1);
        // formula line, caret line, "offset N: message"
        std::istringstream lines(result.out);
        std::string shown, caret, last;
        std::getline(lines, shown);
        std::getline(lines, caret);
        std::getline(lines, last);
        EXPECT_EQ(shown, row.shownLine);
        ASSERT_EQ(last.rfind("offset ", 0), 0u) << result.out;
        const std::size_t offset = std::stoul(last.substr(7));
        EXPECT_GE(offset, row.minOffset);
        EXPECT_GT(last.size(), last.find(": ") + 2) << "a message follows the offset";
        EXPECT_EQ(caret, ExpectedCaretLine(row.formula, offset));
    }
}

TEST_F(CheckTest, ValidFormulaPrintsOk) {
    const ToolResult result = Run({"check", "Round({Price} * 1.2, 2) > @Limit && {Region} = 'EU'"});
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_EQ(result.out, "ok\n");
}

TEST_F(CheckTest, OverlongOrBadTextIsAnInputError) {
    ToolResult result = Run({"check", std::string(1024, '1')});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("at most 1023"), std::string::npos) << result.err;

    result = Run({"check", "1 + \xFF"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("invalid UTF-8 byte 0xFF at offset 4"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace calquor::tool::test
