// The csv command: adds computed columns to a CSV file, row by row. Rows are
// read in chunks on the main thread, calculated and formatted on worker
// threads, and written in input order, so memory stays bounded by the chunks
// in flight whatever the file size.
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
#include <deque>
#include <filesystem>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>

namespace calquor::tool {
namespace {

// Row messages shown before only a count follows; header warnings likewise.
constexpr std::size_t kMaxRowMessages = 20;
constexpr std::size_t kMaxHeaderWarnings = 10;
// A chunk of rows handed to a worker: this many rows or input bytes at most.
constexpr std::size_t kChunkRows = 2048;
constexpr std::size_t kChunkBytes = 256 * 1024;

struct ColumnSpec {
    std::string name;
    std::string formula;
    // The input field the column only passes on (its text is written
    // unchanged), or -1 for a calculated column.
    long passThrough = -1;
};

// Operand names and their fields. A header has few columns, and a linear
// scan that compares lengths first beats hashing or a tree for them.
class NameIndex {
public:
    // False when the name is already there (it keeps its first field).
    bool Add(const std::string& name, std::size_t field) {
        if (Find(name) >= 0) return false;
        m_names.emplace_back(name, field);
        return true;
    }
    // The field of the name, or -1.
    long Find(std::string_view name) const {
        for (const auto& [known, field] : m_names)
            if (known.size() == name.size() && std::memcmp(known.data(), name.data(), name.size()) == 0)
                return static_cast<long>(field);
        return -1;
    }

private:
    std::vector<std::pair<std::string, std::size_t>> m_names;
};

// What every worker reads and nobody changes once the header is known.
struct Layout {
    const FormulaBook* book = nullptr;
    NameIndex index;  // operand name -> field
    std::vector<std::optional<Kind>> kinds;                 // declared kinds per field
    std::size_t width = 0;
};

// Serves the current row's cells as operands, each typed (as --set types a
// value, or as its column's declared kind) on first use within the row, and
// the named formulas of the book. One per worker.
class RowAdapter : public DataAdapter {
public:
    explicit RowAdapter(const Layout& layout)
        : m_layout(layout), m_values(layout.width), m_typed(layout.width, false) {}

    void SetRow(const std::vector<std::string>& cells) {
        m_cells = &cells;
        std::fill(m_typed.begin(), m_typed.end(), false);
        m_badCell.clear();
    }
    // Why the last calculation met a cell that is not of its declared kind
    // ("" when none); cleared by TakeBadCell.
    std::string TakeBadCell() { return std::exchange(m_badCell, std::string()); }

    // The engine asks IsKnown and then GetOperantValue for the same name; the
    // field found first is kept for the second call.
    bool IsKnown(const char* name) override {
        const long field = m_layout.index.Find(name);
        if (field < 0) return false;
        m_lastName.assign(name);
        m_lastField = static_cast<std::size_t>(field);
        return true;
    }

    _variant_t GetOperantValue(const char* name) override {
        if (m_cells == nullptr) return _variant_t();
        if (m_lastName != name) {
            const long field = m_layout.index.Find(name);
            if (field < 0) return _variant_t();
            m_lastName.assign(name);
            m_lastField = static_cast<std::size_t>(field);
        }
        const std::size_t i = m_lastField;
        if (!m_typed[i]) {
            const std::string& cell = (*m_cells)[i];
            const std::optional<Kind>& kind = m_layout.kinds[i];
            if (!kind || TrimBlanks(cell).empty()) {
                m_values[i] = TypeText(cell);
            } else if (auto value = TypeAs(*kind, cell)) {
                m_values[i] = std::move(*value);
            } else {
                // Ends the calculation as an error; the caller reports this.
                m_badCell = "{" + std::string(name) + "} " + Quoted(cell) + " is not a " +
                            (*kind == Kind::Number ? "number" : *kind == Kind::Date ? "date" : "bool") +
                            " (--type)";
                throw std::invalid_argument(m_badCell);
            }
            m_typed[i] = true;
        }
        return m_values[i];
    }

    std::string GetFormulaByName(const char* name) override { return m_layout.book->Find(name); }

private:
    const Layout& m_layout;
    const std::vector<std::string>* m_cells = nullptr;
    std::vector<_variant_t> m_values;
    std::vector<bool> m_typed;
    std::string m_badCell;
    std::string m_lastName;
    std::size_t m_lastField = 0;
};

// Chunks are recycled, so that their records and output keep their storage.
struct Chunk {
    std::vector<CsvRecord> records;
    long firstRow = 0;    // the 1-based data row of records[0]
    std::string output;   // storage for the result's output
};

struct ChunkResult {
    std::string output;
    std::vector<std::string> messages;  // at most kMaxRowMessages
    long failedRows = 0;
    long failedCells = 0;
    // Set when the run ends in this chunk: a row of the wrong width (kExitInput)
    // or a failure under --strict (kExitFormula); output holds the rows before.
    int stopCode = kExitOk;
    std::string stopMessage;
};

// Calculates chunks of rows with its own engines and adapter: one chunk at a
// time, on whatever thread the caller chooses.
class Worker {
public:
    Worker(const Layout& layout, const std::vector<ColumnSpec>& columns, const RowFormatter& formatter,
           const std::string& inputName, bool strict)
        : m_layout(layout),
          m_adapter(layout),
          m_columns(columns),
          m_formatter(formatter),
          m_inputName(inputName),
          m_strict(strict) {
        for (const ColumnSpec& column : columns) {
            m_engines.emplace_back(column.formula.c_str());
            m_engines.back().SetDataAdapter(&m_adapter);
            m_engines.back().SetLimits(g_limits);
        }
    }

    ChunkResult Process(Chunk& chunk, std::size_t width) {
        ChunkResult result;
        result.output.swap(chunk.output);
        result.output.clear();
        long row = chunk.firstRow;
        for (const CsvRecord& record : chunk.records) {
            if (record.fields.size() != width) {
                result.stopCode = kExitInput;
                result.stopMessage = m_inputName + ":" + std::to_string(record.line) + ": expected " +
                                     std::to_string(width) + " fields, found " + std::to_string(record.fields.size());
                return result;
            }
            const std::size_t rowStart = result.output.size();
            m_adapter.SetRow(record.fields);
            for (std::size_t i = 0; i < width; ++i)
                m_formatter.Field(result.output, i, record.fields[i], CellKind::Text);
            bool rowFailed = false;
            for (std::size_t c = 0; c < m_columns.size(); ++c) {
                const std::size_t at = width + c;
                if (m_columns[c].passThrough >= 0 && Fits(record.fields, m_columns[c].passThrough)) {
                    m_formatter.Field(result.output, at, record.fields[m_columns[c].passThrough], CellKind::Text);
                    continue;
                }
                int code = 0;
                std::string message;
                const _variant_t value = m_engines[c].Calculate(code, message);
                const std::string badCell = m_adapter.TakeBadCell();
                if (code == 0 && badCell.empty()) {
                    CellKind kind = CellKind::Text;
                    const std::string text = CellText(value, &kind);
                    m_formatter.Field(result.output, at, text, kind);
                    continue;
                }
                ++result.failedCells;
                rowFailed = true;
                if (result.messages.size() < kMaxRowMessages) {
                    std::string report = "calquor: row " + std::to_string(row) + " (line " +
                                         std::to_string(record.line) + "), column " + m_columns[c].name + ": ";
                    if (!badCell.empty())
                        report += badCell + "\n";
                    else
                        report += "error " + std::to_string(code) + ": " + message + "\n" +
                                  DescribeFailure(m_columns[c].formula, *m_layout.book, m_adapter, code, message, g_limits);
                    result.messages.push_back(std::move(report));
                }
                if (m_strict) {
                    result.output.resize(rowStart);
                    result.failedRows += 1;
                    result.stopCode = kExitFormula;
                    return result;
                }
                m_formatter.Field(result.output, at, std::string_view(), CellKind::Null);
            }
            m_formatter.EndRow(result.output);
            result.failedRows += rowFailed ? 1 : 0;
            ++row;
        }
        return result;
    }

private:
    // Whether a passed-on cell is of its column's declared kind; one that is
    // not goes to the engine, whose adapter reports it as any formula's.
    bool Fits(const std::vector<std::string>& cells, long field) const {
        const std::optional<Kind>& kind = m_layout.kinds[static_cast<std::size_t>(field)];
        const std::string& cell = cells[static_cast<std::size_t>(field)];
        return !kind || TrimBlanks(cell).empty() || TypeAs(*kind, cell).has_value();
    }

    const Layout& m_layout;
    RowAdapter m_adapter;
    const std::vector<ColumnSpec>& m_columns;
    const RowFormatter& m_formatter;
    const std::string& m_inputName;
    bool m_strict;
    std::vector<Calquex> m_engines;
};

// Threads that run the chunks' calculations, kept for the whole run so that
// each keeps its warm allocator caches. With no threads, a job runs when its
// result is asked for.
class ThreadPool {
public:
    explicit ThreadPool(std::size_t threads) {
        for (std::size_t i = 0; i < threads; ++i) m_threads.emplace_back([this] { Serve(); });
    }
    ~ThreadPool() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        for (std::thread& thread : m_threads) thread.join();
    }
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    std::future<ChunkResult> Submit(std::function<ChunkResult()> job) {
        if (m_threads.empty()) return std::async(std::launch::deferred, std::move(job));
        std::packaged_task<ChunkResult()> task(std::move(job));
        std::future<ChunkResult> result = task.get_future();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back(std::move(task));
        }
        m_wake.notify_one();
        return result;
    }

private:
    void Serve() {
        for (;;) {
            std::packaged_task<ChunkResult()> task;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
                if (m_jobs.empty()) return;
                task = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            task();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::packaged_task<ChunkResult()>> m_jobs;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
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
        if (!m_enabled) return;
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
                                        std::vector<ColumnSpec>& columns) {
    const FormulaBook fromFile = book;
    for (const std::string& argument : arguments) {
        const std::size_t equals = argument.find('=');
        const std::string name(TrimBlanks(std::string_view(argument).substr(0, equals)));
        if (!IsOperandName(name))
            return "--column '" + argument + "': '" + name + "' is not a column name (ASCII letters and digits only)";
        for (const ColumnSpec& column : columns)
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
        columns.push_back(ColumnSpec{name, formula});
    }
    return std::nullopt;
}

// The field a formula only passes on: {NAME} alone (in parentheses or not),
// or @NAME of a formula that is just that; -1 otherwise.
long PassedField(const std::string& formula, const Layout& layout, int depth = 0) {
    if (depth > 16) return -1;
    Calquex scanner(formula.c_str());
    Token only;
    int count = 0;
    for (Token token = scanner.GetNextToken(); token.nType != TT_END; token = scanner.GetNextToken()) {
        if (token.nType == TT_LPAREN || token.nType == TT_RPAREN) continue;
        if (token.nType == TT_ERROR || ++count > 1) return -1;
        only = token;
    }
    if (count != 1 || (only.nType != TT_COLUMN && only.nType != TT_FORMULA)) return -1;
    const _bstr_t chars = only.vValue;
    const std::string name = static_cast<const char*>(chars) != nullptr ? static_cast<const char*>(chars) : "";
    if (only.nType == TT_FORMULA)
        return layout.book->Contains(name) ? PassedField(layout.book->Find(name), layout, depth + 1) : -1;
    return layout.index.Find(name);
}

// Maps each header's operand name to its field. A name that two headers
// share stays with the first one; the others are returned as warnings.
std::vector<std::string> IndexHeader(const std::vector<std::string>& header, Layout& layout) {
    std::vector<std::string> warnings;
    for (std::size_t i = 0; i < header.size(); ++i) {
        const std::string name = OperandNameOf(header[i]);
        if (name.empty())
            warnings.push_back("column " + std::to_string(i + 1) + " ('" + header[i] +
                               "') has no letters or digits; formulas cannot use it");
        else if (!layout.index.Add(name, i))
            warnings.push_back("column " + std::to_string(i + 1) + " ('" + header[i] + "') is also {" + name +
                               "}; formulas see the first column of that name");
    }
    layout.width = header.size();
    layout.kinds.assign(header.size(), std::nullopt);
    return warnings;
}

// Reads --type NAME=KIND into the layout. Returns a message for a malformed
// argument, an unknown kind or a name no input column has.
std::optional<std::string> DeclareKinds(const std::vector<std::string>& arguments, Layout& layout) {
    for (const std::string& argument : arguments) {
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const std::string kindName = equals == std::string::npos ? std::string() : argument.substr(equals + 1);
        const auto kind = KindNamed(kindName);
        if (!kind || *kind == Kind::Null)
            return "--type " + argument + ": expected NAME=KIND, KIND one of text, number, date, bool";
        const long field = layout.index.Find(name);
        if (field < 0) return "--type " + argument + ": the input has no column {" + name + "}";
        layout.kinds[static_cast<std::size_t>(field)] = *kind;
    }
    return std::nullopt;
}

// Refuses an added column that the input already has; then checks every
// formula a column reaches (syntax, unknown names, cycles), so that a
// mistake stops the run before the first row instead of failing on each.
// Returns the exit code, kExitOk to go on.
int CheckColumns(const std::vector<std::string>& header, const std::vector<ColumnSpec>& columns,
                 const Layout& layout) {
    for (const ColumnSpec& column : columns) {
        if (std::find(header.begin(), header.end(), column.name) != header.end()) {
            Complain("--column " + column.name + ": the input already has a column of that name");
            return kExitInput;
        }
    }
    std::vector<RootFormula> roots;
    for (const ColumnSpec& column : columns)
        roots.push_back(RootFormula{"column " + column.name, column.name, column.formula});
    const auto problems = CheckReachable(roots, *layout.book, [&](const std::string& name) {
        return layout.index.Find(name) >= 0;
    });
    for (const std::string& report : problems) std::fputs(report.c_str(), stderr);
    return problems.empty() ? kExitOk : kExitFormula;
}

std::optional<OutputFormat> OutputFormatNamed(const std::string& name) {
    if (name == "csv") return OutputFormat::Csv;
    if (name == "tsv") return OutputFormat::Tsv;
    if (name == "jsonl") return OutputFormat::JsonLines;
    return std::nullopt;
}

// Reads the next chunk of records; false when none is left.
bool ReadChunk(CsvReader& reader, Chunk& chunk, long firstRow) {
    chunk.firstRow = firstRow;
    chunk.records.resize(kChunkRows);
    std::size_t count = 0, bytes = 0;
    while (count < kChunkRows && bytes < kChunkBytes && reader.Next(chunk.records[count])) {
        for (const std::string& field : chunk.records[count].fields) bytes += field.size() + 1;
        ++count;
    }
    chunk.records.resize(count);
    return count > 0;
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
    std::vector<ColumnSpec> columns;
    if (auto problem = ParseColumns(options.columns, book, columns)) {
        Complain(*problem);
        return kExitInput;
    }
    InputFormat inputFormat;
    inputFormat.tsv = options.tsv;
    inputFormat.delimiter = options.tsv ? '\t' : ',';
    inputFormat.encoding = options.encoding;
    if (!options.delimiter.empty()) {
        const char d = options.delimiter[0];
        if (options.delimiter.size() != 1 || d == '"' || d == '\r' || d == '\n' || (d & 0x80) != 0) {
            Complain("--delimiter '" + options.delimiter + "': one ASCII character other than a quote or line break");
            return kExitInput;
        }
        inputFormat.delimiter = d;
    }
    const auto outputFormat =
        OutputFormatNamed(options.outputFormat.empty() ? (options.tsv ? "tsv" : "csv") : options.outputFormat);
    if (!outputFormat) {
        Complain("--output-format '" + options.outputFormat + "': use csv, tsv or jsonl");
        return kExitInput;
    }

    const bool fromStdin = options.inputPath == "-";
    const bool toStdout = options.outputPath.empty() || options.outputPath == "-";
    std::FILE* in = fromStdin ? stdin : std::fopen(options.inputPath.c_str(), "rb");
    if (in == nullptr) {
        Complain(FileError("open", options.inputPath));
        return kExitInput;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> inCloser(fromStdin ? nullptr : in, std::fclose);
    std::FILE* out = stdout;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> outCloser(nullptr, std::fclose);
    if (!toStdout) {
        std::error_code ignored;
        if (!fromStdin && std::filesystem::equivalent(options.inputPath, options.outputPath, ignored)) {
            Complain("the output '" + options.outputPath + "' is the input file");
            return kExitInput;
        }
    }
    const std::string inputName = fromStdin ? "standard input" : options.inputPath;

    CsvReader reader(in, inputName, inputFormat);
    CsvRecord first;
    if (!reader.Next(first)) {
        Complain(reader.Error().empty() ? inputName + ": empty file, a header line is needed" : reader.Error());
        return kExitInput;
    }
    std::vector<std::string> header = first.fields;
    if (options.noHeader)
        for (std::size_t i = 0; i < header.size(); ++i) header[i] = "C" + std::to_string(i + 1);

    Layout layout;
    layout.book = &book;
    const std::vector<std::string> warnings = IndexHeader(header, layout);
    for (std::size_t i = 0; i < warnings.size() && i < kMaxHeaderWarnings; ++i) Complain("warning: " + warnings[i]);
    if (warnings.size() > kMaxHeaderWarnings)
        Complain("warning: " + std::to_string(warnings.size() - kMaxHeaderWarnings) + " more header warnings");
    if (auto problem = DeclareKinds(options.types, layout)) {
        Complain(*problem);
        return kExitInput;
    }
    if (const int problem = CheckColumns(header, columns, layout); problem != kExitOk) return problem;
    for (ColumnSpec& column : columns) column.passThrough = PassedField(column.formula, layout);
    // JSON Lines names each cell by its header: a name the header repeats
    // would leave a reader only one of those cells.
    if (*outputFormat == OutputFormat::JsonLines && !options.noHeader) {
        std::vector<std::string> sorted = header;
        std::sort(sorted.begin(), sorted.end());
        if (const auto twice = std::adjacent_find(sorted.begin(), sorted.end()); twice != sorted.end()) {
            Complain(inputName + ":" + std::to_string(first.line) + ": the header names " + Quoted(*twice) +
                     " twice; JSON Lines needs distinct names");
            return kExitInput;
        }
    }
    // Created only now, so that a run stopped by its header or formulas leaves
    // an earlier output file as it was.
    if (!toStdout) {
        out = std::fopen(options.outputPath.c_str(), "wb");
        if (out == nullptr) {
            Complain(FileError("create", options.outputPath));
            return kExitInput;
        }
        outCloser.reset(out);
    }

    std::vector<std::string> names = header;
    for (const ColumnSpec& column : columns) names.push_back(column.name);
    const RowFormatter formatter(*outputFormat, inputFormat.delimiter, names);
    if (!options.noHeader) {
        const std::string line = formatter.Header();
        std::fwrite(line.data(), 1, line.size(), out);
    }

    // Workers, each used by one chunk at a time; the main thread reads,
    // hands out chunks and writes their results in input order.
    const std::size_t threads = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t inFlight = threads == 1 ? 1 : threads + 1;
    std::vector<std::unique_ptr<Worker>> workers;
    for (std::size_t i = 0; i < inFlight; ++i)
        workers.push_back(std::make_unique<Worker>(layout, columns, formatter, inputName, options.strict));
    struct Pending {
        std::future<ChunkResult> result;
        std::unique_ptr<Chunk> chunk;
        std::size_t worker;
    };
    std::deque<Pending> pending;
    // Declared after what its jobs use: destroyed first, it finishes them.
    ThreadPool pool(threads == 1 ? 0 : threads);
    std::vector<std::size_t> freeWorkers;
    std::vector<std::unique_ptr<Chunk>> freeChunks;
    for (std::size_t i = 0; i < inFlight; ++i) freeWorkers.push_back(i);

    Progress progress(in, toStdout && isatty(STDOUT_FILENO) != 0);
    long rows = 0, failedRows = 0, failedCells = 0;
    std::size_t shown = 0;
    int exitCode = kExitOk;
    bool stopped = false;
    // Writes the oldest pending chunk's result; false when the run stops there.
    const auto drainOne = [&]() {
        Pending done = std::move(pending.front());
        pending.pop_front();
        ChunkResult result = done.result.get();
        freeWorkers.push_back(done.worker);
        std::fwrite(result.output.data(), 1, result.output.size(), out);
        done.chunk->output.swap(result.output);
        if (!result.messages.empty() || result.stopCode != kExitOk) progress.Clear();
        for (const std::string& message : result.messages) {
            if (shown++ < kMaxRowMessages) std::fputs(message.c_str(), stderr);
        }
        failedRows += result.failedRows;
        failedCells += result.failedCells;
        rows += static_cast<long>(done.chunk->records.size());
        freeChunks.push_back(std::move(done.chunk));
        progress.Tick(rows);
        if (result.stopCode != kExitOk) {
            if (!result.stopMessage.empty()) Complain(result.stopMessage);
            exitCode = result.stopCode;
            return false;
        }
        return true;
    };

    long nextRow = 1;
    std::unique_ptr<Chunk> firstChunk;
    if (options.noHeader) {
        firstChunk = std::make_unique<Chunk>();
        firstChunk->firstRow = 1;
        firstChunk->records.push_back(std::move(first));
    }
    while (!stopped) {
        if (freeWorkers.empty() && !drainOne()) {
            stopped = true;
            break;
        }
        std::unique_ptr<Chunk> chunk = std::move(firstChunk);
        if (!chunk) {
            if (freeChunks.empty()) {
                chunk = std::make_unique<Chunk>();
            } else {
                chunk = std::move(freeChunks.back());
                freeChunks.pop_back();
            }
            if (!ReadChunk(reader, *chunk, nextRow)) break;
        }
        nextRow += static_cast<long>(chunk->records.size());
        const std::size_t index = freeWorkers.back();
        freeWorkers.pop_back();
        Worker* worker = workers[index].get();
        Chunk* job = chunk.get();
        const std::size_t width = layout.width;
        pending.push_back(Pending{pool.Submit([worker, job, width] { return worker->Process(*job, width); }),
                                  std::move(chunk), index});
    }
    while (!pending.empty()) {
        if (stopped) {
            pending.front().result.wait();  // its worker must finish before the workers go
            pending.pop_front();
        } else if (!drainOne()) {
            stopped = true;
        }
    }
    progress.Clear();
    if (!stopped && !reader.Error().empty()) {
        Complain(reader.Error());
        exitCode = kExitInput;
    }
    if (failedCells > static_cast<long>(std::min(shown, kMaxRowMessages)))
        Complain(std::to_string(failedCells - static_cast<long>(std::min(shown, kMaxRowMessages))) +
                 " more failing cells not shown");
    if (failedRows > 0 && !options.strict) {
        Complain(std::to_string(failedRows) + " of " + std::to_string(rows) +
                 " rows had a failing formula (their cells are empty)");
        if (exitCode == kExitOk && !options.allowFailures) exitCode = kExitFormula;
    }
    // Standard output is checked once for every command, by main.
    if (out != stdout && (std::fflush(out) != 0 || std::ferror(out))) {
        Complain(FileError("write", options.outputPath));
        return kExitInput;
    }
    return exitCode;
}

}  // namespace calquor::tool
