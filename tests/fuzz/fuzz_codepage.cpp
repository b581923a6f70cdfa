// Fuzz target: MultiByteToWideChar and WideCharToMultiByte on arbitrary
// bytes and units, with exact, short and NUL-terminated buffers, and the
// BSTR and _bstr_t paths built on them.
#include "FuzzSupport.h"

#include <memory>
#include <string>
#include <vector>

using namespace calquor;
using calquor::fuzz::Require;

namespace {

// Heap blocks of exactly the size asked for, so that a write past the size
// given to the conversion is caught.
template <class Char>
std::unique_ptr<Char[]> Block(std::size_t n) {
    return std::make_unique<Char[]>(n == 0 ? 1 : n);
}

std::u16string ToWide(UINT codePage, const char* bytes, int count) {
    const int units = MultiByteToWideChar(codePage, 0, bytes, count, nullptr, 0);
    Require(units >= 0, "negative wide length");
    if (units == 0) return {};
    auto out = Block<OLECHAR>(static_cast<std::size_t>(units));
    Require(MultiByteToWideChar(codePage, 0, bytes, count, out.get(), units) == units,
            "MultiByteToWideChar wrote another length than it asked for");
    // One unit short: refused, nothing written past the block.
    if (units > 1) {
        auto small = Block<OLECHAR>(static_cast<std::size_t>(units - 1));
        Require(MultiByteToWideChar(codePage, 0, bytes, count, small.get(), units - 1) == 0,
                "MultiByteToWideChar accepted a buffer too small");
    }
    return std::u16string(out.get(), static_cast<std::size_t>(units));
}

std::string ToBytes(UINT codePage, const OLECHAR* units, int count) {
    const int bytes = WideCharToMultiByte(codePage, 0, units, count, nullptr, 0, nullptr, nullptr);
    Require(bytes >= 0, "negative byte length");
    if (bytes == 0) return {};
    auto out = Block<char>(static_cast<std::size_t>(bytes));
    Require(WideCharToMultiByte(codePage, 0, units, count, out.get(), bytes, nullptr, nullptr) == bytes,
            "WideCharToMultiByte wrote another length than it asked for");
    if (bytes > 1) {
        auto small = Block<char>(static_cast<std::size_t>(bytes - 1));
        Require(WideCharToMultiByte(codePage, 0, units, count, small.get(), bytes - 1, nullptr, nullptr) == 0,
                "WideCharToMultiByte accepted a buffer too small");
    }
    return std::string(out.get(), static_cast<std::size_t>(bytes));
}

bool IsAscii(std::string_view bytes) {
    for (unsigned char c : bytes)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const UINT codePage = (data[0] & 1) ? CP_UTF8 : CP_ACP;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const int count = static_cast<int>(bytes.size());

    // 8-bit to wide with an explicit length; an exact copy in its own block
    // so that nothing past the length is read.
    auto exact = Block<char>(bytes.size());
    bytes.copy(exact.get(), bytes.size());
    const std::u16string wide = count > 0 ? ToWide(codePage, exact.get(), count) : std::u16string();
    if (count > 0) Require(!wide.empty(), "non-empty bytes gave no units");
    if (IsAscii(bytes)) {
        Require(wide.size() == bytes.size(), "ASCII changed its length");
        for (std::size_t i = 0; i < wide.size(); ++i) Require(wide[i] == static_cast<unsigned char>(bytes[i]), "ASCII changed");
    }

    // Normalised once, the text goes round unchanged: wide -> 8-bit -> wide.
    const std::string narrow = wide.empty() ? std::string() : ToBytes(codePage, wide.data(), static_cast<int>(wide.size()));
    const std::u16string wideAgain =
        narrow.empty() ? std::u16string() : ToWide(codePage, narrow.data(), static_cast<int>(narrow.size()));
    const std::string narrowAgain =
        wideAgain.empty() ? std::string() : ToBytes(codePage, wideAgain.data(), static_cast<int>(wideAgain.size()));
    Require(wideAgain == wide, "UTF-8 from MultiByteToWideChar did not read back");
    Require(narrowAgain == narrow, "wide -> UTF-8 is not stable");

    // NUL-terminated input (-1) counts the terminator.
    const std::string terminated(bytes.c_str());
    {
        const std::u16string withNul = ToWide(codePage, terminated.c_str(), -1);
        Require(!withNul.empty() && withNul.back() == 0, "a -1 length lost the terminator");
    }

    // The same bytes as UTF-16 units: lone surrogates become U+FFFD.
    std::vector<OLECHAR> units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<OLECHAR>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    if (!units.empty()) {
        auto block = Block<OLECHAR>(units.size());
        std::copy(units.begin(), units.end(), block.get());
        const std::string utf8 = ToBytes(codePage, block.get(), static_cast<int>(units.size()));
        const std::u16string back = ToWide(codePage, utf8.data(), static_cast<int>(utf8.size()));
        Require(ToBytes(codePage, back.data(), static_cast<int>(back.size())) == utf8, "UTF-16 -> UTF-8 is not stable");

        // BSTR and _bstr_t on the same units.
        BSTR b = SysAllocStringLen(block.get(), static_cast<UINT>(units.size()));
        Require(b != nullptr && SysStringLen(b) == units.size(), "SysAllocStringLen lost units");
        const _bstr_t owned(b, false);
        const char* text = owned;  // the cached UTF-8 form
        Require(text != nullptr, "_bstr_t gave no 8-bit form");
        const _bstr_t fromText(text);
        (void)fromText.length();
    }

    // Bad arguments are refused, not followed.
    Require(MultiByteToWideChar(codePage, 0, nullptr, 4, nullptr, 0) == 0, "a null input was read");
    // Any negative length means NUL-terminated, as -1 does.
    Require(MultiByteToWideChar(codePage, 0, terminated.c_str(), -2, nullptr, 0) ==
                MultiByteToWideChar(codePage, 0, terminated.c_str(), -1, nullptr, 0),
            "a length of -2 did not read up to the terminator");
    Require(MultiByteToWideChar(1252, 0, exact.get(), count, nullptr, 0) == 0 || count == 0,
            "a code page that is not installed converted");
    return 0;
}
