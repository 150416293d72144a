#include "app/wide_text.h"

#include <cstdint>

#include "base/utf16.h"

void NarrowInto(std::string &out, std::u16string_view wide) {
    // Most texts are ASCII throughout: those are copied unit by unit, and the
    // general conversion takes over from the first unit that is not.
    std::size_t ascii = 0;
    while (ascii < wide.size() && wide[ascii] < 0x80) ++ascii;
    out.resize(ascii);
    for (std::size_t i = 0; i < ascii; ++i) out[i] = static_cast<char>(wide[i]);
    if (ascii < wide.size()) AppendUtf8FromUtf16(out, wide.data() + ascii, wide.size() - ascii);
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
