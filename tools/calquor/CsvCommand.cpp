// The csv command: adds computed columns to a CSV file, row by row.
#include "Commands.h"

#include "CsvStream.h"
#include "Text.h"
#include "Values.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

namespace calquor::tool {
namespace {

struct Column {
    std::string name;
    std::string formula;
    Calquex engine;
};

// Serves the current row's cells as operands, each typed (as --set types a
// value) on first use within the row, and the named formulas of the book.
class RowAdapter : public DataAdapter {
public:
    explicit RowAdapter(const FormulaBook& book) : m_book(book) {}

    // Maps each header's operand name to its cell. A name that two headers
    // share stays with the first one; the others are returned as warnings.
    std::vector<std::string> SetHeader(const std::vector<std::string>& header) {
        std::vector<std::string> warnings;
        for (std::size_t i = 0; i < header.size(); ++i) {
            const std::string name = OperandNameOf(header[i]);
            if (name.empty())
                warnings.push_back("column " + std::to_string(i + 1) + " ('" + header[i] +
                                   "') has no letters or digits; formulas cannot use it");
            else if (!m_index.emplace(name, i).second)
                warnings.push_back("column " + std::to_string(i + 1) + " ('" + header[i] + "') is also {" + name +
                                   "}; formulas see the first column of that name");
        }
        m_width = header.size();
        m_values.resize(header.size());
        m_typed.assign(header.size(), false);
        return warnings;
    }

    std::size_t Width() const { return m_width; }

    void SetRow(const std::vector<std::string>& cells) {
        m_cells = &cells;
        std::fill(m_typed.begin(), m_typed.end(), false);
    }

    bool IsKnown(const char* name) override { return m_index.find(std::string_view(name)) != m_index.end(); }
    bool IsKnownName(const std::string& name) const { return m_index.count(name) != 0; }

    _variant_t GetOperantValue(const char* name) override {
        const auto it = m_index.find(std::string_view(name));
        if (it == m_index.end() || m_cells == nullptr) return _variant_t();
        const std::size_t i = it->second;
        if (!m_typed[i]) {
            m_values[i] = TypeText((*m_cells)[i]);
            m_typed[i] = true;
        }
        return m_values[i];
    }

    std::string GetFormulaByName(const char* name) override { return m_book.Find(name); }

private:
    const FormulaBook& m_book;
    std::map<std::string, std::size_t, std::less<>> m_index;
    std::size_t m_width = 0;
    const std::vector<std::string>* m_cells = nullptr;
    std::vector<_variant_t> m_values;
    std::vector<bool> m_typed;
};

// A "calquor: N rows (P%)" line on stderr, redrawn in place, for runs
// longer than a second when stderr is a terminal that the rows themselves
// do not go to.
class Progress {
public:
    Progress(std::FILE* in, bool rowsToTerminal)
        : m_in(in),
          m_enabled(isatty(STDERR_FILENO) != 0 && !rowsToTerminal),
          m_start(Clock::now()),
          m_last(m_start) {
        struct stat info {};
        if (fstat(fileno(in), &info) == 0 && S_ISREG(info.st_mode)) m_size = info.st_size;
    }

    void Tick(long rows) {
        if (!m_enabled || rows % 4096 != 0) return;
        const auto now = Clock::now();
        if (now - m_start < std::chrono::seconds(1) || now - m_last < std::chrono::milliseconds(250)) return;
        m_last = now;
        const long position = std::ftell(m_in);
        if (m_size > 0 && position >= 0)
            std::fprintf(stderr, "\rcalquor: %ld rows (%d%%)", rows, static_cast<int>(position * 100 / m_size));
        else
            std::fprintf(stderr, "\rcalquor: %ld rows", rows);
        m_shown = true;
    }
    // Removes the line before other output reaches stderr.
    void Clear() {
        if (m_shown) std::fputs("\r\033[K", stderr);
        m_shown = false;
    }

private:
    using Clock = std::chrono::steady_clock;
    std::FILE* m_in;
    long m_size = 0;
    bool m_enabled;
    bool m_shown = false;
    Clock::time_point m_start, m_last;
};

// Reads the --column arguments into columns whose formulas also join the
// book as named formulas, so that any column may use @NAME of another
// (which calculates that column's formula again for the row).
std::optional<std::string> ParseColumns(const std::vector<std::string>& arguments, FormulaBook& book,
                                        std::vector<Column>& columns) {
    const FormulaBook fromFile = book;
    for (const std::string& argument : arguments) {
        const std::size_t equals = argument.find('=');
        const std::string name(TrimBlanks(std::string_view(argument).substr(0, equals)));
        if (!IsOperandName(name))
            return "--column '" + argument + "': '" + name + "' is not a column name (ASCII letters and digits only)";
        for (const Column& column : columns)
            if (column.name == name) return "--column " + name + " is given twice";
        std::string formula;
        if (equals == std::string::npos) {
            if (!fromFile.Contains(name))
                return "--column " + name + ": no named formula " + name + " (give NAME=FORMULA or --formulas FILE)";
            formula = fromFile.Find(name);
        } else {
            if (fromFile.Contains(name))
                return "--column " + name + ": the formulas file already defines " + name + "; write --column " +
                       name + " to output it";
            formula = argument.substr(equals + 1);
            if (auto problem = book.Define(name, formula)) return "--column " + name + ": " + *problem;
        }
        columns.push_back(Column{name, formula, Calquex(formula.c_str())});
        columns.back().engine.SetLimits(g_limits);
    }
    return std::nullopt;
}

// Refuses an added column that the input already has, and any operand or
// @name that nothing supplies: misspelt, it would fail (or, as @name, be
// empty) on every row. Returns the exit code, kExitOk to go on.
int CheckAgainstHeader(const std::vector<std::string>& header, const std::vector<Column>& columns,
                       const FormulaBook& book, const RowAdapter& adapter) {
    for (const Column& column : columns) {
        if (std::find(header.begin(), header.end(), column.name) != header.end()) {
            Complain("--column " + column.name + ": the input already has a column of that name");
            return kExitInput;
        }
    }
    for (const Column& column : columns) {
        const auto unknown =
            FindUnknownName(column.formula, book, [&](const std::string& name) { return adapter.IsKnownName(name); });
        if (unknown) {
            Complain("column " + column.name + ":");
            std::fputs(DescribeUnknown(*unknown, column.formula).c_str(), stderr);
            return kExitFormula;
        }
    }
    return kExitOk;
}

struct RowCounts {
    long rows = 0;
    long failed = 0;
};

// Calculates and writes the data rows. Returns the exit code: a row of the
// wrong width ends the run as an input error, a failing formula with
// --strict as a formula error.
int StreamRows(CsvReader& reader, CsvWriter& writer, RowAdapter& adapter, std::vector<Column>& columns,
               const CsvOptions& options, Progress& progress, RowCounts& counts) {
    const std::size_t width = adapter.Width();
    CsvRecord record;
    while (reader.Next(record)) {
        const long row = ++counts.rows;
        if (record.fields.size() != width) {
            progress.Clear();
            Complain(options.inputPath + ":" + std::to_string(record.line) + ": expected " + std::to_string(width) +
                     " fields, found " + std::to_string(record.fields.size()));
            return kExitInput;
        }
        adapter.SetRow(record.fields);
        bool rowFailed = false;
        for (Column& column : columns) {
            int code = 0;
            std::string message;
            const _variant_t value = column.engine.Calculate(code, message);
            if (code == 0) {
                record.fields.push_back(CellText(value));
                continue;
            }
            progress.Clear();
            Complain("row " + std::to_string(row) + " (line " + std::to_string(record.line) + "), column " +
                     column.name + ": error " + std::to_string(code) + ": " + message);
            if (options.strict) return kExitFormula;
            record.fields.emplace_back();
            rowFailed = true;
        }
        counts.failed += rowFailed ? 1 : 0;
        // The computed cells were appended behind the row's own cells; the
        // adapter only reads those, so the record is written whole.
        for (const std::string& cell : record.fields) writer.Field(cell);
        writer.EndRow();
        progress.Tick(row);
    }
    return kExitOk;
}

}  // namespace

std::string FileError(const std::string& what, const std::string& path) {
    return "cannot " + what + " '" + path + "': " + std::strerror(errno);
}

int RunCsv(const CsvOptions& options) {
    FormulaBook book;
    if (!options.formulasPath.empty()) {
        if (auto problem = book.Load(options.formulasPath)) {
            Complain(*problem);
            return kExitInput;
        }
    }
    std::vector<Column> columns;
    if (auto problem = ParseColumns(options.columns, book, columns)) {
        Complain(*problem);
        return kExitInput;
    }
    RowAdapter adapter(book);
    for (Column& column : columns) {
        column.engine.SetDataAdapter(&adapter);
        int pos = 0;
        std::string message;
        if (!column.engine.Compile(pos, message)) {
            Complain("column " + column.name + ":");
            std::fputs(CaretBlock(column.formula, pos, message).c_str(), stderr);
            return kExitFormula;
        }
    }

    std::FILE* in = std::fopen(options.inputPath.c_str(), "rb");
    if (in == nullptr) {
        Complain(FileError("open", options.inputPath));
        return kExitInput;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> inCloser(in, std::fclose);
    std::FILE* out = stdout;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> outCloser(nullptr, std::fclose);
    if (!options.outputPath.empty()) {
        std::error_code ignored;
        if (std::filesystem::equivalent(options.inputPath, options.outputPath, ignored)) {
            Complain("the output '" + options.outputPath + "' is the input file");
            return kExitInput;
        }
        out = std::fopen(options.outputPath.c_str(), "wb");
        if (out == nullptr) {
            Complain(FileError("create", options.outputPath));
            return kExitInput;
        }
        outCloser.reset(out);
    }

    CsvReader reader(in, options.inputPath);
    CsvWriter writer(out);
    CsvRecord record;
    if (!reader.Next(record)) {
        Complain(reader.Error().empty() ? options.inputPath + ": empty file, a header line is needed"
                                        : reader.Error());
        return kExitInput;
    }
    for (const std::string& warning : adapter.SetHeader(record.fields)) Complain("warning: " + warning);
    if (const int problem = CheckAgainstHeader(record.fields, columns, book, adapter); problem != kExitOk)
        return problem;
    for (const std::string& header : record.fields) writer.Field(header);
    for (const Column& column : columns) writer.Field(column.name);
    writer.EndRow();

    Progress progress(in, out == stdout && isatty(STDOUT_FILENO) != 0);
    RowCounts counts;
    int exitCode = StreamRows(reader, writer, adapter, columns, options, progress, counts);
    progress.Clear();
    if (exitCode == kExitOk && !reader.Error().empty()) {
        Complain(reader.Error());
        exitCode = kExitInput;
    }
    if (counts.failed > 0 && !options.strict)
        Complain(std::to_string(counts.failed) + " of " + std::to_string(counts.rows) +
                 " rows had a failing formula (their cells are empty)");
    // Standard output is checked once for every command, by main.
    if (out != stdout && (std::fflush(out) != 0 || std::ferror(out))) {
        Complain(FileError("write", options.outputPath));
        return kExitInput;
    }
    return exitCode;
}

}  // namespace calquor::tool
