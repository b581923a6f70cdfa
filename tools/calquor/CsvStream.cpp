#include "CsvStream.h"

#include "Text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace calquor::tool {
namespace {

constexpr std::size_t kChunkSize = 64 * 1024;
static_assert(kChunkSize < kMaxRecordBytes, "a record is checked between chunk-sized pieces");

// Spaces are data (RFC 4180), so the parser must not trim any.
int NoSpace(unsigned char) { return 0; }

std::string MiB(std::size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// Appends text as a JSON string.
void AppendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

}  // namespace

CsvReader::CsvReader(std::FILE* in, std::string name, const InputFormat& format)
    : m_format(format), m_in(in), m_name(std::move(name)), m_chunk(kChunkSize) {
    if (!m_format.encoding.empty()) {
        m_convert = iconv_open("UTF-8", m_format.encoding.c_str());
        if (m_convert == reinterpret_cast<iconv_t>(-1)) {
            Fail(0, "unknown encoding '" + m_format.encoding + "' (try latin1 or windows-1252)");
            return;
        }
        m_raw.resize(kChunkSize / 4);  // each byte of a one-byte encoding takes up to 4 in UTF-8
    }
    if (m_format.tsv) return;
    if (csv_init(&m_parser, CSV_STRICT | CSV_STRICT_FINI) != 0) {
        Fail(0, "cannot start the CSV parser");
        return;
    }
    m_parserReady = true;
    csv_set_space_func(&m_parser, NoSpace);
    csv_set_delim(&m_parser, static_cast<unsigned char>(m_format.delimiter));
}

CsvReader::~CsvReader() {
    if (m_parserReady) csv_free(&m_parser);
    if (m_convert != reinterpret_cast<iconv_t>(-1)) iconv_close(m_convert);
}

void CsvReader::Fail(long line, const std::string& message) {
    if (!m_error.empty()) return;  // the first problem is the one to report
    m_error = line > 0 ? m_name + ":" + std::to_string(line) + ": " + message : m_name + ": " + message;
    m_done = true;
}

std::string* CsvReader::FieldSlot() {
    if (!m_error.empty()) return nullptr;
    if (m_fieldCount == kMaxFields) {
        Fail(m_line, "more than " + std::to_string(kMaxFields) + " fields in a record (the limit)");
        return nullptr;
    }
    if (m_fieldCount == m_building.fields.size()) m_building.fields.emplace_back();
    return &m_building.fields[m_fieldCount];
}

void CsvReader::EndField() {
    const std::string& text = m_building.fields[m_fieldCount];
    if (m_checkBytes)
        if (const auto bad = FindBadByte(text))
            Fail(m_line, "field " + std::to_string(m_fieldCount + 1) + ": " + DescribeBadByte(text, *bad));
    ++m_fieldCount;
}

void CsvReader::AddField(std::string_view text) {
    if (std::string* field = FieldSlot()) {
        field->assign(text);
        EndField();
    }
}

bool CsvReader::SplitLine(const char* line, std::size_t end) {
    const char delimiter = m_format.delimiter;
    m_building.line = m_line;
    for (std::size_t at = 0;;) {
        std::string* field = FieldSlot();
        if (field == nullptr) return true;  // failed
        if (at < end && line[at] == '"') {
            field->clear();
            std::size_t i = at + 1;
            for (;;) {
                const auto* quote = static_cast<const char*>(std::memchr(line + i, '"', end - i));
                if (quote == nullptr) return m_fieldCount = 0, false;  // open beyond the line
                const auto q = static_cast<std::size_t>(quote - line);
                field->append(line + i, q - i);
                i = q + 1;
                if (i < end && line[i] == '"') {
                    *field += '"';
                    ++i;
                    continue;
                }
                break;
            }
            if (i < end && line[i] != delimiter) return m_fieldCount = 0, false;  // text after the quote
            EndField();
            if (i == end) return true;
            at = i + 1;
            continue;
        }
        const auto* stop = static_cast<const char*>(std::memchr(line + at, delimiter, end - at));
        const std::size_t fieldEnd = stop ? static_cast<std::size_t>(stop - line) : end;
        if (std::memchr(line + at, '"', fieldEnd - at) != nullptr) return m_fieldCount = 0, false;
        field->assign(line + at, fieldEnd - at);
        EndField();
        if (stop == nullptr) return true;
        at = fieldEnd + 1;
    }
}

void CsvReader::OnField(void* data, std::size_t size, void* self) {
    auto& reader = *static_cast<CsvReader*>(self);
    const std::string_view text(static_cast<const char*>(data), size);
    if (reader.m_fieldCount == 0) {
        // The first field ends on the current line; its own line breaks
        // (inside quotes) tell where the record started.
        reader.m_building.line = reader.m_line - static_cast<long>(std::count(text.begin(), text.end(), '\n'));
    }
    reader.AddField(text);
}

void CsvReader::OnRecord(int, void* self) {
    auto& reader = *static_cast<CsvReader*>(self);
    if (!reader.m_error.empty()) return;
    reader.m_building.fields.resize(reader.m_fieldCount);
    if (reader.m_readyCount == reader.m_ready.size()) reader.m_ready.emplace_back();
    std::swap(reader.m_ready[reader.m_readyCount++], reader.m_building);
    reader.m_fieldCount = 0;
    reader.m_recordBytes = 0;
    // Later records lie in this chunk (or later ones, checked on arrival).
    if (reader.m_chunkClean) reader.m_checkBytes = false;
    reader.m_nextRecordLine = reader.m_line + 1;
}

bool CsvReader::Fill() {
    m_chunkPos = 0;
    m_chunkEnd = 0;
    if (m_convert == reinterpret_cast<iconv_t>(-1)) {
        m_chunkEnd = std::fread(m_chunk.data(), 1, m_chunk.size(), m_in);
    } else if (m_convertError.empty()) {
        m_rawEnd += std::fread(m_raw.data() + m_rawEnd, 1, m_raw.size() - m_rawEnd, m_in);
        char* from = m_raw.data();
        std::size_t fromLeft = m_rawEnd;
        char* to = m_chunk.data();
        std::size_t toLeft = m_chunk.size();
        if (iconv(m_convert, &from, &fromLeft, &to, &toLeft) == static_cast<std::size_t>(-1) && errno != E2BIG &&
            (errno != EINVAL || std::feof(m_in))) {
            char byte[8];
            std::snprintf(byte, sizeof byte, "0x%02X", fromLeft > 0 ? static_cast<unsigned char>(*from) : 0u);
            m_convertError = std::string("byte ") + byte + " is not " + m_format.encoding;
        }
        m_chunkEnd = static_cast<std::size_t>(to - m_chunk.data());
        std::memmove(m_raw.data(), from, fromLeft);
        m_rawEnd = m_convertError.empty() ? fromLeft : 0;
    }
    if (m_chunkEnd == 0) {
        if (std::ferror(m_in)) {
            Fail(0, std::string("cannot read: ") + std::strerror(errno));
        } else if (!m_convertError.empty()) {
            Fail(m_line, m_convertError);
        }
        return false;
    }
    if (!m_started && m_chunkEnd >= 3 && std::memcmp(m_chunk.data(), "\xEF\xBB\xBF", 3) == 0) m_chunkPos = 3;
    m_started = true;
    // Fields are checked one by one only while a chunk with bytes beyond
    // ASCII or a NUL is being read.
    m_chunkClean = !FindBadByte(std::string_view(m_chunk.data(), m_chunkEnd)) &&
                   std::none_of(m_chunk.data(), m_chunk.data() + m_chunkEnd, [](char c) { return (c & 0x80) != 0; });
    if (!m_chunkClean) m_checkBytes = true;
    return true;
}

bool CsvReader::FeedLine() {
    if (m_chunkPos == m_chunkEnd && !Fill()) {
        if (!m_error.empty()) return false;
        // The last record may lack its line end; csv_fini delivers it.
        if (csv_fini(&m_parser, OnField, OnRecord, this) != 0 || csv_error(&m_parser) == CSV_EPARSE)
            Fail(m_nextRecordLine,
                 "malformed CSV: this record has a quoted field that is still open at the end of the file");
        m_done = true;
        return m_readyCount > 0 && m_error.empty();
    }
    // One line at a time, so that every callback knows its line number.
    const char* begin = m_chunk.data() + m_chunkPos;
    const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', m_chunkEnd - m_chunkPos));
    const std::size_t length = newline ? static_cast<std::size_t>(newline - begin) + 1 : m_chunkEnd - m_chunkPos;
    // A whole line at the start of a record is split here when it holds
    // whole records' fields: the parser would give the same, one byte at a
    // time. Anything else (a quoted field open at the line end, a quote out
    // of place, a carriage return inside) goes to the parser.
    if (m_atRecordStart && newline != nullptr) {
        std::size_t end = length - 1;
        if (end > 0 && begin[end - 1] == '\r') --end;
        if (std::memchr(begin, '\r', end) == nullptr && (end == 0 || SplitLine(begin, end))) {
            m_chunkPos += length;
            if (!m_error.empty()) return false;
            if (end > 0) OnRecord(0, this);
            ++m_line;
            return true;
        }
    }
    // Checked before the parser holds more: the record so far stays below
    // the limit plus one chunk.
    m_recordBytes += length;
    if (m_recordBytes > kMaxRecordBytes) {
        Fail(m_nextRecordLine, "a record longer than " + MiB(kMaxRecordBytes) + " (the limit)");
        return false;
    }
    const std::size_t readyBefore = m_readyCount;
    const std::size_t parsed = csv_parse(&m_parser, begin, length, OnField, OnRecord, this);
    if (parsed != length) {
        if (csv_error(&m_parser) == CSV_EPARSE)
            Fail(m_line, "malformed CSV: a quote inside an unquoted field, or text after a closing quote");
        else
            Fail(m_line, std::string("CSV parser: ") + csv_strerror(csv_error(&m_parser)));
        return false;
    }
    m_chunkPos += length;
    // The parser is between records after a line that ended one (or was
    // blank) with no field of the next begun, and no carriage return that
    // could have ended a record earlier in the line.
    const bool blank = length == 1 || (length == 2 && begin[0] == '\r');
    m_atRecordStart = newline != nullptr && m_fieldCount == 0 &&
                      (m_readyCount > readyBefore || (m_atRecordStart && blank)) &&
                      (length < 3 || std::memchr(begin, '\r', length - 2) == nullptr);
    if (newline) ++m_line;
    return true;
}

bool CsvReader::ReadTsvLine() {
    m_tsvLine.clear();
    bool ended = false;
    while (!ended) {
        if (m_chunkPos == m_chunkEnd && !Fill()) {
            if (!m_error.empty() || m_tsvLine.empty()) return false;
            break;
        }
        const char* begin = m_chunk.data() + m_chunkPos;
        const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', m_chunkEnd - m_chunkPos));
        const std::size_t length = newline ? static_cast<std::size_t>(newline - begin) : m_chunkEnd - m_chunkPos;
        if (m_tsvLine.size() + length > kMaxRecordBytes) {
            Fail(m_line, "a line longer than " + MiB(kMaxRecordBytes) + " (the limit)");
            return false;
        }
        m_tsvLine.append(begin, length);
        m_chunkPos += length + (newline ? 1 : 0);
        ended = newline != nullptr;
    }
    const long line = m_line++;
    if (!m_tsvLine.empty() && m_tsvLine.back() == '\r') m_tsvLine.pop_back();
    if (m_tsvLine.empty()) return true;  // blank lines are skipped
    m_building.line = line;
    m_fieldCount = 0;
    std::string field;
    for (std::size_t i = 0; i <= m_tsvLine.size(); ++i) {
        const char c = i < m_tsvLine.size() ? m_tsvLine[i] : '\t';
        if (c == '\t') {
            AddField(field);
            field.clear();
        } else if (c == '\\' && i + 1 < m_tsvLine.size()) {
            const char next = m_tsvLine[++i];
            switch (next) {
            case 't': field += '\t'; break;
            case 'n': field += '\n'; break;
            case 'r': field += '\r'; break;
            case '\\': field += '\\'; break;
            default: field += '\\'; field += next;  // not an escape: kept as written
            }
        } else {
            field += c;
        }
    }
    if (!m_error.empty()) return false;
    OnRecord(0, this);
    return true;
}

bool CsvReader::Next(CsvRecord& record) {
    while (m_readIndex == m_readyCount) {
        m_readIndex = m_readyCount = 0;
        if (m_done) return false;
        if (!(m_format.tsv ? ReadTsvLine() : FeedLine())) return false;
        if (!m_error.empty()) return false;
    }
    std::swap(record, m_ready[m_readIndex++]);
    return true;
}

RowFormatter::RowFormatter(OutputFormat format, char delimiter, std::vector<std::string> names)
    : m_format(format), m_delimiter(format == OutputFormat::Tsv ? '\t' : delimiter), m_keys(std::move(names)) {
    for (const char c : {m_delimiter, '"', '\r', '\n'}) m_quoteWorthy[static_cast<unsigned char>(c)] = true;
    if (m_format != OutputFormat::JsonLines) return;
    for (std::string& name : m_keys) {
        std::string key;
        AppendJsonString(key, name);
        name = key + ":";
    }
}

std::string RowFormatter::Header() const {
    if (m_format == OutputFormat::JsonLines) return {};
    std::string out;
    for (std::size_t i = 0; i < m_keys.size(); ++i) Field(out, i, m_keys[i], CellKind::Text);
    EndRow(out);
    return out;
}

void RowFormatter::Field(std::string& out, std::size_t column, std::string_view text, CellKind kind) const {
    if (m_format == OutputFormat::JsonLines) {
        out += column == 0 ? '{' : ',';
        out += m_keys[column];
        if (kind == CellKind::Null)
            out += "null";
        else if (kind == CellKind::Text)
            AppendJsonString(out, text);
        else
            out += text;
        return;
    }
    if (column > 0) out += m_delimiter;
    if (m_format == OutputFormat::Tsv) {
        for (const char c : text) {
            switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            default: out += c;
            }
        }
        return;
    }
    bool needsQuotes = !text.empty() && (text.front() == ' ' || text.front() == '\t' || text.back() == ' ' ||
                                         text.back() == '\t');
    for (const char c : text) needsQuotes |= m_quoteWorthy[static_cast<unsigned char>(c)];
    if (!needsQuotes) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void RowFormatter::EndRow(std::string& out) const {
    if (m_format == OutputFormat::JsonLines) out += m_keys.empty() ? "{}" : "}";
    out += '\n';
}

}  // namespace calquor::tool
