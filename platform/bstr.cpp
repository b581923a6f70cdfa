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

// Freed blocks of the small sizes that names, operators and short values
// take are kept per thread and handed out again, as the system's own string
// cache does: compiling a formula makes and frees a string per token, which
// would otherwise reach the C heap's slower paths once its own small cache is
// full. A block's class follows from its length alone (room for the longest
// terminator included), so a cached block always fits whatever its class
// asks. Each thread keeps at most kCachedPerClass blocks per class (as many
// as the tokens of a long formula, at most 40 KiB) and gives them back when
// it ends. Sanitizer builds keep no cache, so that a use after
// free is still seen.
#if defined(__SANITIZE_ADDRESS__)
#define CALQUOR_BSTR_CACHE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define CALQUOR_BSTR_CACHE 0
#endif
#endif
#ifndef CALQUOR_BSTR_CACHE
#define CALQUOR_BSTR_CACHE 1
#endif

constexpr std::size_t kClassBytes = 16;
constexpr std::size_t kCachedClasses = 4;
constexpr unsigned kCachedPerClass = 256;
constexpr std::size_t kLongestTerminator = sizeof(OLECHAR) + 1;

// The class of a block holding bytes, or kCachedClasses when it is not cached.
constexpr std::size_t ClassOf(std::size_t bytes) noexcept {
    const std::size_t need = sizeof(Prefix) + bytes + kLongestTerminator;
    return need <= kClassBytes * kCachedClasses ? (need - 1) / kClassBytes : kCachedClasses;
}
static_assert(ClassOf(0) == 0 && ClassOf(kClassBytes - sizeof(Prefix) - kLongestTerminator) == 0 &&
                  ClassOf(kClassBytes * kCachedClasses - sizeof(Prefix) - kLongestTerminator) == kCachedClasses - 1 &&
                  ClassOf(kClassBytes * kCachedClasses) == kCachedClasses,
              "classes of 16 bytes up to 64");
static_assert(kClassBytes >= sizeof(void*), "a cached block holds the link to the next");

#if CALQUOR_BSTR_CACHE
// A thread's free blocks, linked through their first bytes.
struct BlockCache {
    void* head[kCachedClasses];
    unsigned count[kCachedClasses];
    // Set when the thread first keeps a block; closed once its blocks went
    // back, so that strings freed later in the thread's end are not kept.
    bool flushAtExit;
    bool closed;
};
// Initial-exec on ELF systems: every string made or freed reads it, and that
// model reads it at a fixed offset from the thread pointer instead of calling
// the dynamic linker (a library loaded later takes these few bytes from the
// reserve the loader keeps for this).
#if defined(__ELF__)
constinit thread_local BlockCache t_blocks [[gnu::tls_model("initial-exec")]]{};
#else
constinit thread_local BlockCache t_blocks{};
#endif

void FlushBlocks() noexcept {
    for (std::size_t c = 0; c < kCachedClasses; ++c) {
        while (void* block = t_blocks.head[c]) {
            std::memcpy(&t_blocks.head[c], block, sizeof(void*));
            std::free(block);
        }
        t_blocks.count[c] = 0;
    }
}

// Gives a thread's blocks back when the thread ends; made the first time the
// thread keeps one.
struct BlockFlush {
    ~BlockFlush() {
        FlushBlocks();
        t_blocks.closed = true;
    }
};

void* TakeBlock(std::size_t c) noexcept {
    void* block = t_blocks.head[c];
    if (!block) return std::malloc(kClassBytes * (c + 1));
    std::memcpy(&t_blocks.head[c], block, sizeof(void*));
    --t_blocks.count[c];
    return block;
}

void KeepBlock(std::size_t c, void* block) noexcept {
    if (t_blocks.count[c] == kCachedPerClass || t_blocks.closed) {
        std::free(block);
        return;
    }
    if (!t_blocks.flushAtExit) {
        t_blocks.flushAtExit = true;
        static thread_local BlockFlush flush;
        (void)flush;
    }
    std::memcpy(block, &t_blocks.head[c], sizeof(void*));
    t_blocks.head[c] = block;
    ++t_blocks.count[c];
}
#endif

void* AllocBlock(std::size_t bytes, std::size_t terminator) noexcept {
#if CALQUOR_BSTR_CACHE
    if (const std::size_t c = ClassOf(bytes); c < kCachedClasses) return TakeBlock(c);
#endif
    return std::malloc(sizeof(Prefix) + bytes + terminator);
}

void FreeBlock(void* block, std::size_t bytes) noexcept {
#if CALQUOR_BSTR_CACHE
    if (const std::size_t c = ClassOf(bytes); c < kCachedClasses) return KeepBlock(c, block);
#else
    (void)bytes;
#endif
    std::free(block);
}

// Zeroes what follows a block's prefix: the terminator, and the bytes unless
// they are to be copied. A block of a cached class is cleared whole in stores
// of kClassBytes, whose size is known here: two calls of memset for a few
// bytes each would cost more than the rest of making a short string.
void ClearBlock(char* block, std::size_t bytes, std::size_t terminator, bool copied) noexcept {
#if CALQUOR_BSTR_CACHE
    if (const std::size_t c = ClassOf(bytes); c < kCachedClasses) {
        for (std::size_t k = 0; k <= c; ++k) std::memset(block + k * kClassBytes, 0, kClassBytes);
        return;
    }
#endif
    char* data = block + sizeof(Prefix);
    if (!copied) std::memset(data, 0, bytes);
    std::memset(data + bytes, 0, terminator);
}

// Allocates prefix + bytes + terminator, copies bytes from src (or zeroes).
char* AllocCounted(const void* src, std::size_t bytes, std::size_t terminator) {
    if (bytes > kMaxBytes) return nullptr;
    auto* block = static_cast<char*>(AllocBlock(bytes, terminator));
    if (!block) return nullptr;
    ClearBlock(block, bytes, terminator, src != nullptr);
    const Prefix len = static_cast<Prefix>(bytes);
    std::memcpy(block, &len, sizeof len);
    char* data = block + sizeof(Prefix);
    if (src) std::memcpy(data, src, bytes);
    return data;
}

Prefix CountedLength(const void* data) {
    if (!data) return 0;
    Prefix len;
    std::memcpy(&len, static_cast<const char*>(data) - sizeof(Prefix), sizeof len);
    return len;
}

void FreeCounted(void* data) {
    if (data) FreeBlock(static_cast<char*>(data) - sizeof(Prefix), CountedLength(data));
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
