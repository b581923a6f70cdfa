// Text helpers of the component services.
#include "com_text.h"

#include <new>

namespace calquor::com {

std::string Utf8(std::u16string_view wide) {
    if (wide.empty()) return {};
    const int length = static_cast<int>(wide.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), bytes, nullptr, nullptr);
    return text;
}

std::string Utf8(const OLECHAR* wide) { return wide ? Utf8(std::u16string_view(wide)) : std::string(); }

std::u16string Utf16(std::string_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::u16string wide(static_cast<std::size_t>(units > 0 ? units : 0), u'\0');
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), units);
    return wide;
}

BSTR NewBstr(std::u16string_view text) {
    BSTR result = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!result) throw std::bad_alloc();
    return result;
}

BSTR NewBstr(std::string_view text) { return NewBstr(Utf16(text)); }

bool EqualNoCase(std::string_view a, std::string_view b) { return EqualsNoCase(a, b); }

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

bool LessNoCase(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(FoldAscii(a[i]));
        const auto y = static_cast<unsigned char>(FoldAscii(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

std::string GuidText(REFGUID guid) {
    OLECHAR buffer[39];
    StringFromGUID2(guid, buffer, 39);
    return Utf8(buffer);
}

namespace {

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads `digits` hex digits at text[pos]; false when any is not one.
bool ReadHex(std::u16string_view text, std::size_t pos, int digits, unsigned long long& value) {
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = HexValue(text[pos + static_cast<std::size_t>(i)]);
        if (d < 0) return false;
        value = value * 16 + static_cast<unsigned>(d);
    }
    return true;
}

}  // namespace

bool ParseGuid(std::u16string_view text, GUID& guid) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text[0] != u'{' || text[37] != u'}' || text[9] != u'-' || text[14] != u'-' ||
        text[19] != u'-' || text[24] != u'-')
        return false;
    unsigned long long v = 0;
    GUID g{};
    if (!ReadHex(text, 1, 8, v)) return false;
    g.Data1 = static_cast<DWORD>(v);
    if (!ReadHex(text, 10, 4, v)) return false;
    g.Data2 = static_cast<WORD>(v);
    if (!ReadHex(text, 15, 4, v)) return false;
    g.Data3 = static_cast<WORD>(v);
    static constexpr std::size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text, kBytePos[i], 2, v)) return false;
        g.Data4[i] = static_cast<BYTE>(v);
    }
    guid = g;
    return true;
}

LSTATUS ReadText(HKEY root, const std::string& subKey, const char* valueName, std::string& out) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyEx(root, subKey.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS) return status;
    DWORD type = REG_NONE;
    DWORD size = 0;
    status = RegQueryValueEx(key, valueName, nullptr, &type, nullptr, &size);
    std::string data;
    if (status == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) status = ERROR_FILE_NOT_FOUND;
    if (status == ERROR_SUCCESS) {
        data.resize(size);
        status = RegQueryValueEx(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return status;
    data.resize(size);
    const std::size_t end = data.find('\0');
    if (end != std::string::npos) data.resize(end);
    out = std::move(data);
    return ERROR_SUCCESS;
}

LSTATUS WriteText(HKEY root, const std::string& subKey, const char* valueName, std::string_view text) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyEx(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                                    &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    const std::string data(text);
    status = RegSetValueEx(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>(data.size() + 1));
    RegCloseKey(key);
    return status;
}

}  // namespace calquor::com
