// Streaming CSV input and output: one record at a time, so memory stays
// bounded by the longest record whatever the file size.
#pragma once

#include <csv.h>
#include <iconv.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace calquor::tool {

// The limits on input records: beyond them the reader stops with
// "NAME:LINE: ..." instead of holding an unbounded record in memory.
// A record spans several lines when a quoted field holds line breaks.
inline constexpr std::size_t kMaxRecordBytes = 1 << 20;
inline constexpr std::size_t kMaxFields = 10000;
static_assert(kMaxFields < kMaxRecordBytes, "a record holds a field count's separators");

// One parsed record and the 1-based line on which it starts.
struct CsvRecord {
    std::vector<std::string> fields;
    long line = 0;
};

// How the input is read: the field separator, TSV instead of CSV, and the
// iconv name of its encoding (empty: UTF-8).
struct InputFormat {
    char delimiter = ',';
    bool tsv = false;
    std::string encoding;
};

// Reads RFC 4180 CSV: fields separated by the delimiter (a comma unless
// told), records by CR, LF or CRLF, double quotes around fields that hold
// the delimiter, quotes or line breaks, a quote inside them doubled. Spaces
// belong to the fields. Blank lines are skipped and a UTF-8 byte order mark
// at the start is dropped. Anything else (a quote inside an unquoted field,
// text after a closing quote, a quoted field still open at the end) is
// malformed, as is a field that is not UTF-8 or holds a NUL byte, and a
// record beyond the limits above.
// TSV: one record per line, fields separated by tabs, no quoting; \t, \n,
// \r and \\ in a field stand for a tab, a line feed, a carriage return and
// a backslash.
// Input in another encoding is converted to UTF-8 first (iconv); a byte that
// encoding does not define is an error at its line.
class CsvReader {
public:
    // Reads from in, which the caller keeps open; name is used in messages.
    // A problem with the format (an unknown encoding) is in Error() at once.
    CsvReader(std::FILE* in, std::string name, const InputFormat& format = {});
    ~CsvReader();
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    // Fills record with the next record (reusing its storage). False at the
    // end of the input, or on an error, which Error() then describes as
    // "NAME:LINE: ...".
    bool Next(CsvRecord& record);
    const std::string& Error() const { return m_error; }

private:
    static void OnField(void* data, std::size_t size, void* self);
    static void OnRecord(int terminator, void* self);
    // Refills the chunk from the input (converted to UTF-8); false at the end
    // of the input or on an error.
    bool Fill();
    // Feeds the parser up to the next line end; false when nothing is left.
    bool FeedLine();
    // Reads the next TSV line into a ready record; false when nothing is left.
    bool ReadTsvLine();
    // The storage of the next field of the record (nullptr after an error,
    // or with too many fields); EndField checks and counts it.
    std::string* FieldSlot();
    void EndField();
    void AddField(std::string_view text);
    // Splits a whole line (without its line end) at the start of a record
    // into its fields and returns true; false, with nothing kept, when the
    // line needs the parser.
    bool SplitLine(const char* line, std::size_t end);
    void Fail(long line, const std::string& message);

    InputFormat m_format;
    csv_parser m_parser{};
    bool m_parserReady = false;
    iconv_t m_convert = reinterpret_cast<iconv_t>(-1);
    std::vector<char> m_raw;  // bytes read but not yet converted
    std::size_t m_rawEnd = 0;
    std::string m_convertError;  // reported once the bytes before it are used
    std::FILE* m_in;
    std::string m_name;
    std::vector<char> m_chunk;
    std::size_t m_chunkPos = 0;
    std::size_t m_chunkEnd = 0;
    bool m_started = false;
    bool m_done = false;
    long m_line = 1;  // the line being fed to the parser
    long m_nextRecordLine = 1;  // where the record after the last complete one starts
    std::size_t m_recordBytes = 0;  // fed since the last complete record
    bool m_atRecordStart = true;    // the parser holds nothing of a record
    bool m_chunkClean = true;       // the chunk is ASCII without NUL
    bool m_checkBytes = true;       // fields must be checked for bad bytes
    std::string m_error;
    std::string m_tsvLine;

    CsvRecord m_building;  // the record whose fields are arriving
    std::size_t m_fieldCount = 0;
    std::vector<CsvRecord> m_ready;  // complete records not yet handed out
    std::size_t m_readyCount = 0;
    std::size_t m_readIndex = 0;
};

enum class OutputFormat { Csv, Tsv, JsonLines };

// How a written cell appears in JSON Lines (a string, a number, true/false or
// null); CSV and TSV write only its text.
enum class CellKind { Text, Number, Bool, Null };

// Formats rows into a text buffer (so that rows formatted on several threads
// can be written in order). CSV quotes a field (doubling its quotes) only
// when it holds the delimiter, a quote or a line break, or starts or ends
// with a blank; TSV escapes tabs, line breaks and backslashes as the reader
// reads them; JSON Lines writes one object per row with the header names as
// keys. Rows end with LF. Const members are safe on several threads.
class RowFormatter {
public:
    RowFormatter(OutputFormat format, char delimiter, std::vector<std::string> names);

    // The header line (empty for JSON Lines, which repeats the names in each row).
    std::string Header() const;
    // Starts a row in out; then one Field per column, then EndRow.
    void Field(std::string& out, std::size_t column, std::string_view text, CellKind kind) const;
    void EndRow(std::string& out) const;

private:
    OutputFormat m_format;
    char m_delimiter;
    std::array<bool, 256> m_quoteWorthy{};  // bytes that make a CSV field quoted
    std::vector<std::string> m_keys;  // JSON: each name quoted, with its colon
};

}  // namespace calquor::tool
