#include "CsvStream.h"

#include "Text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace calquor::tool {
namespace {

constexpr std::size_t kChunkSize = 64 * 1024;

// Spaces are data (RFC 4180), so the parser must not trim any.
int NoSpace(unsigned char) { return 0; }

}  // namespace

CsvReader::CsvReader(std::FILE* in, std::string name)
    : m_in(in), m_name(std::move(name)), m_chunk(kChunkSize) {
    if (csv_init(&m_parser, CSV_STRICT | CSV_STRICT_FINI) != 0) {
        Fail(0, "cannot start the CSV parser");
        return;
    }
    m_parserReady = true;
    csv_set_space_func(&m_parser, NoSpace);
}

CsvReader::~CsvReader() {
    if (m_parserReady) csv_free(&m_parser);
}

void CsvReader::Fail(long line, const std::string& message) {
    if (!m_error.empty()) return;  // the first problem is the one to report
    m_error = line > 0 ? m_name + ":" + std::to_string(line) + ": " + message : m_name + ": " + message;
    m_done = true;
}

void CsvReader::OnField(void* data, std::size_t size, void* self) {
    auto& reader = *static_cast<CsvReader*>(self);
    const std::string_view text(static_cast<const char*>(data), size);
    CsvRecord& record = reader.m_building;
    if (reader.m_fieldCount == 0) {
        // The first field ends on the current line; its own line breaks
        // (inside quotes) tell where the record started.
        record.line = reader.m_line - static_cast<long>(std::count(text.begin(), text.end(), '\n'));
    }
    if (const auto bad = FindBadByte(text)) {
        reader.Fail(reader.m_line, "field " + std::to_string(reader.m_fieldCount + 1) + ": " +
                                       DescribeBadByte(text, *bad));
    }
    if (reader.m_fieldCount == record.fields.size())
        record.fields.emplace_back(text);
    else
        record.fields[reader.m_fieldCount].assign(text);
    ++reader.m_fieldCount;
}

void CsvReader::OnRecord(int, void* self) {
    auto& reader = *static_cast<CsvReader*>(self);
    reader.m_building.fields.resize(reader.m_fieldCount);
    if (reader.m_readyCount == reader.m_ready.size()) reader.m_ready.emplace_back();
    std::swap(reader.m_ready[reader.m_readyCount++], reader.m_building);
    reader.m_fieldCount = 0;
    reader.m_nextRecordLine = reader.m_line + 1;
}

bool CsvReader::FeedLine() {
    if (m_chunkPos == m_chunkEnd) {
        m_chunkPos = 0;
        m_chunkEnd = std::fread(m_chunk.data(), 1, m_chunk.size(), m_in);
        if (m_chunkEnd == 0) {
            if (std::ferror(m_in)) {
                Fail(0, std::string("cannot read: ") + std::strerror(errno));
                return false;
            }
            // The last record may lack its line end; csv_fini delivers it.
            if (csv_fini(&m_parser, OnField, OnRecord, this) != 0 || csv_error(&m_parser) == CSV_EPARSE)
                Fail(m_nextRecordLine, "malformed CSV: this record has a quoted field that is still open at the end of the file");
            m_done = true;
            return m_readyCount > 0;
        }
        if (!m_started && m_chunkEnd >= 3 && std::memcmp(m_chunk.data(), "\xEF\xBB\xBF", 3) == 0)
            m_chunkPos = 3;
        m_started = true;
    }
    // One line at a time, so that every callback knows its line number.
    const char* begin = m_chunk.data() + m_chunkPos;
    const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', m_chunkEnd - m_chunkPos));
    const std::size_t length = newline ? static_cast<std::size_t>(newline - begin) + 1 : m_chunkEnd - m_chunkPos;
    const std::size_t parsed = csv_parse(&m_parser, begin, length, OnField, OnRecord, this);
    if (parsed != length) {
        if (csv_error(&m_parser) == CSV_EPARSE)
            Fail(m_line, "malformed CSV: a quote inside an unquoted field, or text after a closing quote");
        else
            Fail(m_line, std::string("CSV parser: ") + csv_strerror(csv_error(&m_parser)));
        return false;
    }
    m_chunkPos += length;
    if (newline) ++m_line;
    return true;
}

bool CsvReader::Next(CsvRecord& record) {
    while (m_readIndex == m_readyCount) {
        m_readIndex = m_readyCount = 0;
        if (m_done || !FeedLine()) return false;
        if (!m_error.empty()) return false;
    }
    std::swap(record, m_ready[m_readIndex++]);
    return true;
}

void CsvWriter::Field(std::string_view text) {
    if (m_rowStarted) std::fputc(',', m_out);
    m_rowStarted = true;
    const bool needsQuotes = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                             (!text.empty() && (text.front() == ' ' || text.front() == '\t' ||
                                                text.back() == ' ' || text.back() == '\t'));
    if (needsQuotes)
        csv_fwrite(m_out, text.data(), text.size());
    else
        std::fwrite(text.data(), 1, text.size(), m_out);
}

void CsvWriter::EndRow() {
    std::fputc('\n', m_out);
    m_rowStarted = false;
}

}  // namespace calquor::tool
