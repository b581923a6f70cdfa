// The registry tree and its REGEDIT4 text form.
//
// The form is the one a registry export writes: a "REGEDIT4" line, then one
// section per key, "[HKEY_CLASSES_ROOT\path]", each followed by its values:
//   @="text"                 the default value, REG_SZ
//   "name"="text"            REG_SZ; backslash and quote escaped by a backslash
//   "name"=dword:0000002a    REG_DWORD
//   "name"=hex:01,02         REG_BINARY
//   "name"=hex(7):61,00,00   any other type, its data bytes
// Long hex data continues on the next line after a trailing backslash. Text
// that a quoted string cannot carry (line breaks, NULs, no terminator) is
// written as hex(1). Lines starting with ';' are comments.
#include "registry_store.h"

#include <cstdio>

namespace calquor::reg {

Key* Key::Child(std::string_view child) const {
    const auto it = children.find(child);
    return it == children.end() ? nullptr : it->second.get();
}

Key& Key::MakeChild(std::string_view child, bool& created) {
    if (Key* existing = Child(child)) {
        created = false;
        return *existing;
    }
    auto key = std::make_unique<Key>();
    key->name = std::string(child);
    Key& result = *key;
    children.emplace(key->name, std::move(key));
    created = true;
    return result;
}

Value* Key::FindValue(std::string_view valueName) {
    for (Value& value : values)
        if (com::EqualNoCase(value.name, valueName)) return &value;
    return nullptr;
}

const Value* Key::FindValue(std::string_view valueName) const {
    for (const Value& value : values)
        if (com::EqualNoCase(value.name, valueName)) return &value;
    return nullptr;
}

Key* Walk(Key& root, const Path& path) {
    Key* key = &root;
    for (const std::string& part : path) {
        key = key->Child(part);
        if (!key) return nullptr;
    }
    return key;
}

const Key* Walk(const Key& root, const Path& path) { return Walk(const_cast<Key&>(root), path); }

namespace {

// ---- reading ----

class Reader {
public:
    Reader(Key& root, std::string& error) : m_root(root), m_error(error) {}

    bool Run(std::string_view text) {
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        SplitLines(text);
        std::size_t i = 0;
        while (i < m_lines.size() && IsBlank(m_lines[i])) ++i;
        if (i == m_lines.size()) return true;  // an empty file is an empty registry
        if (TrimRight(m_lines[i]) != "REGEDIT4") return Fail(i, "not a REGEDIT4 file");
        for (++i; i < m_lines.size(); ++i) {
            const std::string_view line = m_lines[i];
            if (IsBlank(line) || line.front() == ';') continue;
            if (line.front() == '[') {
                if (!Section(i, line)) return false;
            } else if (!ValueLine(i)) {
                return false;
            }
        }
        return true;
    }

private:
    static bool IsBlank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

    static std::string_view TrimRight(std::string_view s) {
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
        return s;
    }

    static bool HasControl(std::string_view name) {
        for (char c : name)
            if (static_cast<unsigned char>(c) < 0x20) return true;
        return false;
    }

    static std::string_view TrimLeft(std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        return s;
    }

    void SplitLines(std::string_view text) {
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos) end = text.size();
            std::string_view line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            m_lines.push_back(line);
            start = end + 1;
        }
    }

    bool Fail(std::size_t line, const char* why) {
        m_error = "line " + std::to_string(line + 1) + ": " + why;
        return false;
    }

    bool Section(std::size_t i, std::string_view line) {
        line = TrimRight(line);
        if (line.size() < 2 || line.back() != ']') return Fail(i, "section without ']'");
        const std::string_view inner = line.substr(1, line.size() - 2);
        if (!inner.empty() && inner.front() == '-') return Fail(i, "deletions are not part of an export");
        Path path;
        std::size_t start = 0;
        bool first = true;
        while (true) {
            const std::size_t end = inner.find('\\', start);
            const std::string_view part = inner.substr(start, end == std::string_view::npos ? end : end - start);
            if (first) {
                if (!com::EqualNoCase(part, kRootName)) return Fail(i, "a key outside HKEY_CLASSES_ROOT");
                first = false;
            } else {
                if (part.empty()) return Fail(i, "an empty key name");
                if (part.size() > kMaxKeyNameLength) return Fail(i, "a key name too long");
                if (HasControl(part)) return Fail(i, "a control character in a key name");
                if (path.size() == kMaxDepth) return Fail(i, "keys nested too deep");
                path.emplace_back(part);
            }
            if (end == std::string_view::npos) break;
            start = end + 1;
        }
        m_current = &m_root;
        bool created = false;
        for (const std::string& part : path) m_current = &m_current->MakeChild(part, created);
        return true;
    }

    // A quoted string at s[pos] ('"' there); sets out and moves pos past
    // the closing quote.
    static bool Quoted(std::string_view s, std::size_t& pos, std::string& out) {
        ++pos;
        while (pos < s.size()) {
            const char c = s[pos++];
            if (c == '"') return true;
            if (c == '\\') {
                if (pos >= s.size() || (s[pos] != '\\' && s[pos] != '"')) return false;
                out += s[pos++];
            } else {
                out += c;
            }
        }
        return false;
    }

    static int Hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    static bool HexBytes(std::string_view s, std::vector<BYTE>& out) {
        s = TrimLeft(TrimRight(s));
        if (s.empty()) return true;
        std::size_t pos = 0;
        while (true) {
            const std::string_view rest = TrimLeft(s.substr(pos));
            pos = s.size() - rest.size();
            if (rest.size() < 2 || Hex(rest[0]) < 0 || Hex(rest[1]) < 0) return false;
            out.push_back(static_cast<BYTE>(Hex(rest[0]) * 16 + Hex(rest[1])));
            pos += 2;
            const std::string_view after = TrimLeft(s.substr(pos));
            if (after.empty()) return true;
            if (after.front() != ',') return false;
            pos = s.size() - after.size() + 1;
        }
    }

    bool ValueLine(std::size_t& i) {
        if (!m_current) return Fail(i, "a value before the first section");
        const std::string_view line = m_lines[i];
        Value value;
        std::size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] == '"') {
            if (!Quoted(line, pos, value.name) || value.name.empty() || value.name.size() > kMaxValueNameLength ||
                HasControl(value.name))
                return Fail(i, "a bad value name");
        } else {
            return Fail(i, "neither a section nor a value");
        }
        if (pos >= line.size() || line[pos] != '=') return Fail(i, "'=' expected after the value name");
        ++pos;
        std::string_view data = line.substr(pos);
        if (!data.empty() && data.front() == '"') {
            std::string text;
            std::size_t at = 0;
            if (!Quoted(data, at, text) || !IsBlank(data.substr(at)))
                return Fail(i, "a bad string value");
            value.type = REG_SZ;
            value.data.assign(text.begin(), text.end());
            value.data.push_back(0);
        } else if (data.substr(0, 6) == "dword:") {
            const std::string_view digits = TrimRight(data.substr(6));
            if (digits.empty() || digits.size() > 8) return Fail(i, "a bad dword value");
            DWORD number = 0;
            for (char c : digits) {
                if (Hex(c) < 0) return Fail(i, "a bad dword value");
                number = number * 16 + static_cast<DWORD>(Hex(c));
            }
            value.type = REG_DWORD;
            for (int b = 0; b < 4; ++b) value.data.push_back(static_cast<BYTE>(number >> (8 * b)));
        } else if (data.substr(0, 3) == "hex") {
            std::size_t colon = data.find(':');
            if (colon == std::string_view::npos) return Fail(i, "a bad hex value");
            const std::string_view kind = data.substr(3, colon - 3);
            if (kind.empty()) {
                value.type = REG_BINARY;
            } else {
                if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' || kind.size() > 10)
                    return Fail(i, "a bad hex value type");
                DWORD type = 0;
                for (char c : kind.substr(1, kind.size() - 2)) {
                    if (Hex(c) < 0) return Fail(i, "a bad hex value type");
                    type = type * 16 + static_cast<DWORD>(Hex(c));
                }
                value.type = type;
            }
            // Joins continuation lines (a trailing backslash).
            std::string bytes(data.substr(colon + 1));
            while (true) {
                const std::string_view trimmed = TrimRight(bytes);
                if (trimmed.empty() || trimmed.back() != '\\') break;
                bytes.resize(trimmed.size() - 1);
                if (++i >= m_lines.size()) return Fail(i - 1, "a continuation line is missing");
                bytes += TrimLeft(m_lines[i]);
            }
            if (!HexBytes(bytes, value.data)) return Fail(i, "bad hex bytes");
        } else {
            return Fail(i, "an unknown value form");
        }
        if (Value* existing = m_current->FindValue(value.name))
            *existing = std::move(value);
        else
            m_current->values.push_back(std::move(value));
        return true;
    }

    Key& m_root;
    std::string& m_error;
    std::vector<std::string_view> m_lines;
    Key* m_current = nullptr;
};

// ---- writing ----

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

// Text a quoted string carries exactly: one terminator, at the end, and no
// line break.
bool IsPlainText(const Value& value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0) return false;
    for (std::size_t i = 0; i + 1 < value.data.size(); ++i) {
        const BYTE b = value.data[i];
        if (b == 0 || b == '\n' || b == '\r') return false;
    }
    return true;
}

void AppendValue(std::string& out, const Value& value) {
    const std::size_t lineStart = out.size();
    if (value.name.empty())
        out += '@';
    else
        AppendQuoted(out, value.name);
    out += '=';
    if (IsPlainText(value)) {
        AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1));
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        const DWORD number = static_cast<DWORD>(value.data[0]) | static_cast<DWORD>(value.data[1]) << 8 |
                             static_cast<DWORD>(value.data[2]) << 16 | static_cast<DWORD>(value.data[3]) << 24;
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(number));
        out += buffer;
    } else {
        char buffer[24];
        if (value.type == REG_BINARY)
            out += "hex:";
        else {
            std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
            out += buffer;
        }
        std::size_t column = out.size() - lineStart;
        for (std::size_t i = 0; i < value.data.size(); ++i) {
            std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned>(value.data[i]));
            out += buffer;
            column += 2;
            if (i + 1 < value.data.size()) {
                out += ',';
                ++column;
                // Export lines stay under 80 columns.
                if (column > 75) {
                    out += "\\\n  ";
                    column = 2;
                }
            }
        }
    }
    out += '\n';
}

void AppendKey(std::string& out, const Key& key, std::string& path) {
    out += '[';
    out += path;
    out += "]\n";
    for (const Value& value : key.values)
        if (value.name.empty()) AppendValue(out, value);
    for (const Value& value : key.values)
        if (!value.name.empty()) AppendValue(out, value);
    out += '\n';
    for (const auto& [name, child] : key.children) {
        const std::size_t length = path.size();
        path += '\\';
        path += child->name;
        AppendKey(out, *child, path);
        path.resize(length);
    }
}

}  // namespace

bool Parse(std::string_view text, Key& root, std::string& error) { return Reader(root, error).Run(text); }

std::string Serialize(const Key& root) {
    std::string out = "REGEDIT4\n\n";
    std::string path(kRootName);
    AppendKey(out, root, path);
    return out;
}

}  // namespace calquor::reg
