// Streaming CSV input and output over libcsv: one record at a time, so memory
// stays bounded by the longest record whatever the file size.
#pragma once

#include <csv.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace calquor::tool {

// One parsed record and the 1-based line on which it starts.
struct CsvRecord {
    std::vector<std::string> fields;
    long line = 0;
};

// Reads RFC 4180 CSV: fields separated by commas, records by CR, LF or CRLF,
// double quotes around fields that hold commas, quotes or line breaks, a
// quote inside them doubled. Spaces belong to the fields. Blank lines are
// skipped and a UTF-8 byte order mark at the start is dropped. Anything else
// (a quote inside an unquoted field, text after a closing quote, a quoted
// field still open at the end) is malformed, as is a field that is not UTF-8
// or holds a NUL byte.
class CsvReader {
public:
    // Reads from in, which the caller keeps open; name is used in messages.
    CsvReader(std::FILE* in, std::string name);
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
    // Feeds the parser up to the next line end; false when nothing is left.
    bool FeedLine();
    void Fail(long line, const std::string& message);

    csv_parser m_parser{};
    bool m_parserReady = false;
    std::FILE* m_in;
    std::string m_name;
    std::vector<char> m_chunk;
    std::size_t m_chunkPos = 0;
    std::size_t m_chunkEnd = 0;
    bool m_started = false;
    bool m_done = false;
    long m_line = 1;  // the line being fed to the parser
    long m_nextRecordLine = 1;  // where the record after the last complete one starts
    std::string m_error;

    CsvRecord m_building;  // the record whose fields are arriving
    std::size_t m_fieldCount = 0;
    std::vector<CsvRecord> m_ready;  // complete records not yet handed out
    std::size_t m_readyCount = 0;
    std::size_t m_readIndex = 0;
};

// Writes CSV rows, quoting a field (and doubling its quotes) only when it
// holds a comma, a quote or a line break, or starts or ends with a blank.
// Rows end with LF.
class CsvWriter {
public:
    explicit CsvWriter(std::FILE* out) : m_out(out) {}
    void Field(std::string_view text);
    void EndRow();

private:
    std::FILE* m_out;
    bool m_rowStarted = false;
};

}  // namespace calquor::tool
