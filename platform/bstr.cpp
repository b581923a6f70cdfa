// Wide strings (BSTR), stored behind a 32-bit length prefix and end with a terminator
// that the length does not count.
#include <calquor/oleauto.h>

#include <cstdlib>
#include <cstring>
#include <limits>

namespace calquor {
namespace {

using Prefix = std::uint32_t;
// The largest byte count a prefix can hold while the whole block stays
// addressable; anything longer is refused rather than wrapped.
constexpr std::size_t kMaxBytes = std::numeric_limits<Prefix>::max() - sizeof(Prefix) - sizeof(OLECHAR) - 1;

// Allocates prefix + bytes + terminator, copies bytes from src (or zeroes).
char* AllocCounted(const void* src, std::size_t bytes, std::size_t terminator) {
    if (bytes > kMaxBytes) return nullptr;
    auto* block = static_cast<char*>(std::malloc(sizeof(Prefix) + bytes + terminator));
    if (!block) return nullptr;
    const Prefix len = static_cast<Prefix>(bytes);
    std::memcpy(block, &len, sizeof len);
    char* data = block + sizeof(Prefix);
    if (src)
        std::memcpy(data, src, bytes);
    else
        std::memset(data, 0, bytes);
    std::memset(data + bytes, 0, terminator);
    return data;
}

Prefix CountedLength(const void* data) {
    if (!data) return 0;
    Prefix len;
    std::memcpy(&len, static_cast<const char*>(data) - sizeof(Prefix), sizeof len);
    return len;
}

void FreeCounted(void* data) {
    if (data) std::free(static_cast<char*>(data) - sizeof(Prefix));
}

std::size_t WideLength(const OLECHAR* psz) {
    std::size_t n = 0;
    while (psz[n]) ++n;
    return n;
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    if (ui > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return reinterpret_cast<BSTR>(AllocCounted(strIn, std::size_t{ui} * sizeof(OLECHAR), sizeof(OLECHAR)));
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    const std::size_t n = WideLength(psz);
    if (n > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(n));
}

BSTR SysAllocStringByteLen(const char* psz, UINT len) {
    // Terminated by a whole wide NUL even for an odd byte count.
    return reinterpret_cast<BSTR>(AllocCounted(psz, len, sizeof(OLECHAR) + 1));
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
    if (!pbstr) return FALSE;
    BSTR fresh = SysAllocStringLen(psz, len);
    if (!fresh) return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (!pbstr) return FALSE;
    const std::size_t n = psz ? WideLength(psz) : 0;
    if (n > kMaxBytes / sizeof(OLECHAR)) return FALSE;
    return SysReAllocStringLen(pbstr, psz, static_cast<UINT>(n));
}

UINT SysStringByteLen(BSTR bstr) { return CountedLength(bstr); }

UINT SysStringLen(BSTR pbstr) { return CountedLength(pbstr) / sizeof(OLECHAR); }

void SysFreeString(BSTR bstrString) { FreeCounted(bstrString); }

}  // namespace calquor
