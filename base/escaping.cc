// Responses are mostly escaped text, so this is the plug-in's hottest loop. The
// output is written in place into room made behind the end of the string: room
// for the widest possible output for texts up to 64 KiB, the exact size
// (worked out first) for longer ones; WriteXmlEscaped writes into room its
// caller sized with XmlEscapedSize.
// Sizing and writing work on 16-byte blocks: a block that needs no change (one
// mask tells) is taken whole; a block that does goes byte by byte through a
// table of padded replacement texts, without a branch per byte, since request
// texts inside links have a replacement every few bytes.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/escaping.h"

namespace {

constexpr std::size_t kBlock = 16;
constexpr std::size_t kPad = 8;  // replacement texts are stored 8 bytes at a time

// One escaping: which bytes it changes and into what.
struct Escaping {
    // Bytes replaced by a text (at most 6 bytes each); drop[] bytes vanish.
    std::array<std::uint8_t, 256> index{};  // 0: unchanged; else 1 + position in texts
    char texts[16][kPad]{};
    std::uint8_t sizes[16]{};
    std::uint8_t specialCount = 0;
    char specials[16]{};          // the replaced bytes (without the dropped controls)
    bool dropControls = false;    // 1..31 except tab, line feed and carriage return
    bool dropLineBreaks = false;  // tab, line feed and carriage return
    std::uint8_t widest = 1;      // the longest replacement text
};

constexpr std::uint8_t kDropIndex = 15;

constexpr void AddText(Escaping &e, char byte, std::string_view text) {
    const std::uint8_t slot = e.specialCount;
    const auto size = static_cast<std::uint8_t>(text.size());
    for (std::uint8_t i = 0; i < size; ++i) e.texts[slot][i] = text[i];
    e.sizes[slot] = size;
    if (size > e.widest) e.widest = size;
    e.specials[slot] = byte;
    e.index[static_cast<unsigned char>(byte)] = static_cast<std::uint8_t>(slot + 1);
    ++e.specialCount;
}

constexpr Escaping MakeXml(bool extended) {
    Escaping e{};
    AddText(e, '&', "&amp;");
    AddText(e, '<', "&lt;");
    AddText(e, '>', "&gt;");
    AddText(e, '"', "&quot;");
    AddText(e, '\'', "&apos;");
    if (extended) {
        AddText(e, '\t', "\\t");
        AddText(e, '\n', "\\n");
        AddText(e, '\r', "\\r");
        AddText(e, '\\', "\\\\");
    }
    e.dropControls = true;
    for (int c = 1; c < 32; ++c)
        if (c != '\t' && c != '\n' && c != '\r') e.index[c] = kDropIndex + 1;
    return e;
}

constexpr Escaping MakeUrl() {
    constexpr char kHex[] = "0123456789ABCDEF";
    Escaping e{};
    for (int c = 1; c < 128; ++c) {
        const char byte = static_cast<char>(c);
        if (UrlEscapes(byte)) {
            const char text[] = {'%', kHex[c >> 4], kHex[c & 0xF]};
            AddText(e, byte, std::string_view(text, 3));
        } else if (UrlDrops(byte)) {
            e.index[c] = kDropIndex + 1;
        }
    }
    // The block scan tests the three line breaks itself.
    e.dropLineBreaks = true;
    return e;
}

constexpr Escaping kXml = MakeXml(false);
constexpr Escaping kXmlEx = MakeXml(true);
constexpr Escaping kUrl = MakeUrl();
static_assert(kXml.widest == kXmlEscapeWidest && kXmlEx.widest == kXmlEscapeWidest);

#if defined(__SSE2__)
// Bit i set when byte i of the block is changed by the escaping.
[[gnu::always_inline]] inline unsigned ChangedMask(const Escaping &e, __m128i v) {
    __m128i m = _mm_setzero_si128();
    for (std::uint8_t k = 0; k < e.specialCount; ++k)
        m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8(e.specials[k])));
    const __m128i tab = _mm_cmpeq_epi8(v, _mm_set1_epi8('\t'));
    const __m128i lf = _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'));
    const __m128i cr = _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'));
    const __m128i breaks = _mm_or_si128(_mm_or_si128(tab, lf), cr);
    if (e.dropControls) {
        // Unsigned v <= 31, without the line breaks and without zero.
        const __m128i low = _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(31)), _mm_set1_epi8(31));
        const __m128i zero = _mm_cmpeq_epi8(v, _mm_setzero_si128());
        m = _mm_or_si128(m, _mm_andnot_si128(_mm_or_si128(breaks, zero), low));
    }
    if (e.dropLineBreaks) m = _mm_or_si128(m, breaks);
    // A zero byte ends the text: it sends its block down the byte-wise path,
    // which stops there.
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_setzero_si128()));
    return static_cast<unsigned>(_mm_movemask_epi8(m));
}
#endif

// Loads the block of `len` bytes at `in` (len < kBlock: zero-padded copy).
#if defined(__SSE2__)
inline __m128i LoadBlock(const unsigned char *in, std::size_t len, unsigned char *buf) {
    if (len == kBlock) return _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
    std::memset(buf, 0, kBlock);
    std::memcpy(buf, in, len);
    return _mm_load_si128(reinterpret_cast<const __m128i *>(buf));
}
#endif

// Per byte: the bytes it becomes (padded to 8) and how many. Lets a block that
// needs changes be written byte by byte without a branch per byte.
struct ByteTable {
    char bytes[256][kPad];
    std::uint8_t sizes[256];
};

constexpr ByteTable MakeByteTable(const Escaping &e) {
    ByteTable t{};
    for (int c = 0; c < 256; ++c) {
        const std::uint8_t index = e.index[c];
        if (index == 0) {
            t.bytes[c][0] = static_cast<char>(c);
            t.sizes[c] = 1;
        } else if (index != kDropIndex + 1) {
            for (std::size_t j = 0; j < kPad; ++j) t.bytes[c][j] = e.texts[index - 1][j];
            t.sizes[c] = e.sizes[index - 1];
        }
    }
    return t;
}

constexpr ByteTable kXmlBytes = MakeByteTable(kXml);
constexpr ByteTable kXmlExBytes = MakeByteTable(kXmlEx);
constexpr ByteTable kUrlBytes = MakeByteTable(kUrl);

// The routines below are inlined into each public function, so that each is
// compiled for one escaping with its bytes as constants.

// Exact output size of `in`, which ends at its first zero byte, if any.
// `unchanged` is cleared when the output differs from `in` (a byte replaced
// or dropped, or a zero byte that ends the text early).
[[gnu::always_inline]] inline std::size_t EscapedSize(const unsigned char *in, std::size_t n,
                                                      const Escaping &e, const ByteTable &t,
                                                      bool &unchanged) {
    std::size_t size = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    alignas(16) unsigned char buf[kBlock];
    for (; i + kBlock <= n; i += kBlock) {
        if (ChangedMask(e, LoadBlock(in + i, kBlock, buf)) == 0) {
            size += kBlock;
            continue;
        }
        unchanged = false;
        for (std::size_t j = 0; j < kBlock; ++j) {
            if (in[i + j] == 0) return size;
            size += t.sizes[in[i + j]];
        }
    }
#endif
#if defined(__SSE2__)
    // Most texts are short: their last partial block is tested as a whole too.
    if (i < n && (ChangedMask(e, LoadBlock(in + i, n - i, buf)) & ((1u << (n - i)) - 1)) == 0)
        return size + (n - i);
#endif
    unsigned changed = 0;
    for (; i < n && in[i] != 0; ++i) {
        size += t.sizes[in[i]];
        changed |= e.index[in[i]];
    }
    if (changed != 0 || i < n) unchanged = false;
    return size;
}

#if defined(__SSE2__)
// Copies the run of unchanged bytes that starts at `from` (at most a block,
// and not past `end`) as a whole block where the input has one to read, so
// that up to kBlock bytes land at `dst`; the caller moves on by the run's
// length and writes over the rest.
[[gnu::always_inline]] inline void CopyRun(char *dst, const unsigned char *from,
                                           const unsigned char *end) {
    if (end - from >= static_cast<std::ptrdiff_t>(kBlock)) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst),
                         _mm_loadu_si128(reinterpret_cast<const __m128i *>(from)));
    } else {
        std::memcpy(dst, from, static_cast<std::size_t>(end - from));
    }
}
#endif

// Writes the escaped form of `in` (up to its first zero) at `dst`, which has
// room for it and kBlock bytes more; returns the end of what was written.
[[gnu::always_inline]] inline char *WriteEscaped(char *dst, const unsigned char *in, std::size_t n,
                                                 const Escaping &e, const ByteTable &t) {
    std::size_t i = 0;
#if defined(__SSE2__)
    alignas(16) unsigned char buf[kBlock];
    for (; i + kBlock <= n; i += kBlock) {
        const __m128i v = LoadBlock(in + i, kBlock, buf);
        // A block that needs no change maps byte for byte and holds no zero.
        if (ChangedMask(e, v) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), v);
            dst += kBlock;
            continue;
        }
        // Only the changed bytes go through the table; the runs between them
        // are copied whole.
        std::size_t j = 0;
        for (unsigned mask = ChangedMask(e, v); mask != 0; mask &= mask - 1) {
            const auto k = static_cast<std::size_t>(std::countr_zero(mask));
            CopyRun(dst, in + i + j, in + n);
            dst += k - j;
            const unsigned char c = in[i + k];
            if (c == 0) return dst;
            std::memcpy(dst, t.bytes[c], kPad);
            dst += t.sizes[c];
            j = k + 1;
        }
        CopyRun(dst, in + i + j, in + n);
        dst += kBlock - j;
    }
    if (i < n && (ChangedMask(e, LoadBlock(in + i, n - i, buf)) & ((1u << (n - i)) - 1)) == 0) {
        std::memcpy(dst, in + i, n - i);
        return dst + (n - i);
    }
#endif
    for (; i < n && in[i] != 0; ++i) {
        std::memcpy(dst, t.bytes[in[i]], kPad);
        dst += t.sizes[in[i]];
    }
    return dst;
}

// Appends the escaped form into `room` bytes made behind the end of `out`;
// `room` covers the output and kBlock bytes more.
[[gnu::always_inline]] inline void AppendEscapedInto(std::string &out, std::string_view text,
                                                     const Escaping &e, const ByteTable &t,
                                                     std::size_t room) {
    const std::size_t start = out.size();
    out.resize(start + room);
    char *end =
        WriteEscaped(out.data() + start, reinterpret_cast<const unsigned char *>(text.data()),
                     text.size(), e, t);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

// Texts up to this size are written in one pass into room for their widest
// possible output; longer ones are sized first so that the room stays exact.
constexpr std::size_t kOnePassLimit = 64 * 1024;

[[gnu::always_inline]] inline void AppendEscaped(std::string &out, std::string_view text,
                                                 const Escaping &e, const ByteTable &t) {
    if (text.empty()) return;
    const auto *in = reinterpret_cast<const unsigned char *>(text.data());
    bool unchanged = true;
    const std::size_t room = text.size() > kOnePassLimit
                                 ? EscapedSize(in, text.size(), e, t, unchanged)
                                 : text.size() * e.widest;
    AppendEscapedInto(out, text, e, t, room + kBlock);
}

}  // namespace

void AppendXmlEscaped(std::string &out, std::string_view text) {
    AppendEscaped(out, text, kXml, kXmlBytes);
}

void AppendXmlEscapedEx(std::string &out, std::string_view text) {
    AppendEscaped(out, text, kXmlEx, kXmlExBytes);
}

void AppendUrlEncoded(std::string &out, std::string_view text) {
    AppendEscaped(out, text, kUrl, kUrlBytes);
}

std::size_t XmlEscapedSize(std::string_view text) {
    bool unchanged = true;
    return EscapedSize(reinterpret_cast<const unsigned char *>(text.data()), text.size(), kXml,
                       kXmlBytes, unchanged);
}

bool XmlEscapingChanges(std::string_view text) {
    const auto *in = reinterpret_cast<const unsigned char *>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    alignas(16) unsigned char buf[kBlock];
    for (; i + kBlock <= n; i += kBlock)
        if (ChangedMask(kXml, LoadBlock(in + i, kBlock, buf)) != 0) return true;
    return i < n && (ChangedMask(kXml, LoadBlock(in + i, n - i, buf)) & ((1u << (n - i)) - 1)) != 0;
#else
    for (; i < n; ++i)
        if (in[i] == 0 || kXml.index[in[i]] != 0) return true;
    return false;
#endif
}

char *WriteXmlEscaped(char *dst, std::string_view text) {
    static_assert(kEscapeSlack >= kBlock && kBlock >= kPad);
    return WriteEscaped(dst, reinterpret_cast<const unsigned char *>(text.data()), text.size(),
                        kXml, kXmlBytes);
}

// Both append the bytes between replacements in runs, not one by one.
void AppendRequestAttribute(std::string &out, std::string_view text) {
    const bool quoted = text.find('"') != std::string_view::npos;
    out.reserve(out.size() + text.size());
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::string_view replacement;
        switch (text[i]) {
            case '&':
                replacement = "&amp;";
                break;
            case '<':
                replacement = "&lt;";
                break;
            case '\\':
                replacement = "\\\\";
                break;
            case '\t':
                replacement = "\\t";
                break;
            case '\n':
                replacement = "\\n";
                break;
            case '\r':
                replacement = "\\r";
                break;
            case '=':
                if (quoted) replacement = "&#61;";
                break;
            case '>':
                if (quoted) replacement = "&gt;";
                break;
            default:
                break;
        }
        if (replacement.empty()) continue;
        out.append(text.data() + run, i - run);
        out.append(replacement);
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
}

void AppendRequestContent(std::string &out, std::string_view text) {
    out.reserve(out.size() + text.size());
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string_view replacement;
        if (c == '&') {
            replacement = "&amp;";
        } else if (c == '<') {
            replacement = "&lt;";
        } else if (c == '>' && i >= 2 && text[i - 1] == ']' && text[i - 2] == ']') {
            replacement = "&gt;";
        } else {
            continue;
        }
        out.append(text.data() + run, i - run);
        out.append(replacement);
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
}
