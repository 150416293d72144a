#include "app/wide_text.h"

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/utf16.h"

void NarrowInto(std::string &out, std::u16string_view wide) {
    // Most texts are ASCII throughout: those are copied unit by unit (eight at
    // a time where the processor allows), and the general conversion takes
    // over from the first unit that is not.
    const char16_t *const units = wide.data();
    const std::size_t count = wide.size();
    out.resize(count);
    char *const bytes = out.data();
    std::size_t ascii = 0;
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; ascii + 8 <= count; ascii += 8) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(units + ascii));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(block, high), _mm_setzero_si128())) !=
            0xFFFF)
            break;
        _mm_storel_epi64(reinterpret_cast<__m128i *>(bytes + ascii),
                         _mm_packus_epi16(block, block));
    }
#endif
    for (; ascii < count && units[ascii] < 0x80; ++ascii)
        bytes[ascii] = static_cast<char>(units[ascii]);
    out.resize(ascii);
    if (ascii < count) AppendUtf8FromUtf16(out, units + ascii, count - ascii);
}

std::string Narrow(std::u16string_view wide) {
    std::string out;
    NarrowInto(out, wide);
    return out;
}

namespace {

// The code point of the well-formed sequence at `at`, and its length; 0 when
// there is none (overlong forms, surrogates and values past U+10FFFF included).
std::uint32_t Decode(std::string_view s, std::size_t at, std::size_t &length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned lead = byte(at);
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length > s.size()) return length = 0;
    std::uint32_t cp = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return length = 0;
        cp = (cp << 6) | (byte(at + i) & 0x3F);
    }
    static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return length = 0;
    return cp;
}

}  // namespace

std::u16string Wide(std::string_view narrow) {
    std::u16string out;
    out.reserve(narrow.size());
    for (std::size_t at = 0; at < narrow.size();) {
        std::size_t length = 0;
        const std::uint32_t cp = Decode(narrow, at, length);
        if (length == 0) {
            out.push_back(u'\uFFFD');
            ++at;
            continue;
        }
        at += length;
        if (cp < 0x10000) {
            out.push_back(static_cast<char16_t>(cp));
        } else {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
    return out;
}

bool EqualIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    const auto fold = [](char16_t c) -> char16_t { return c >= u'A' && c <= u'Z' ? c + 32 : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}
