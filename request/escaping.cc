// The escaped forms of a text. Each stops at the first zero byte, as the
// zero-terminated texts they were designed for do.
//
// Responses are mostly escaped text, so these run in two passes over a byte
// class table: the first sizes the output exactly, the second writes it in
// place, with no call per byte or per replacement.
#include <array>
#include <cstdint>
#include <cstring>

#include "request/tsl_string.h"

namespace {

// A byte's class: 0 copied unchanged, 1 dropped, >= 2 an index into the
// replacement texts of its table.
using ClassTable = std::array<std::uint8_t, 256>;

struct Replacement {
    const char *text;
    std::uint8_t size;
};

constexpr std::uint8_t kCopy = 0;
constexpr std::uint8_t kDrop = 1;

// Index 0 and 1 are placeholders for the copy and drop classes.
constexpr Replacement kXmlTexts[] = {{"", 0},      {"", 0},      {"&amp;", 5}, {"&lt;", 4},
                                     {"&gt;", 4},  {"&quot;", 6}, {"&apos;", 6}, {"\\t", 2},
                                     {"\\n", 2},   {"\\r", 2},    {"\\\\", 2}};

constexpr ClassTable MakeXmlTable(bool extended) {
    ClassTable table{};
    for (int c = 1; c < 32; ++c)
        if (c != '\t' && c != '\n' && c != '\r') table[c] = kDrop;
    table['&'] = 2;
    table['<'] = 3;
    table['>'] = 4;
    table['"'] = 5;
    table['\''] = 6;
    if (extended) {
        table['\t'] = 7;
        table['\n'] = 8;
        table['\r'] = 9;
        table['\\'] = 10;
    }
    return table;
}

constexpr Replacement kUrlTexts[] = {{"", 0},      {"", 0},      {"%20", 3}, {"%24", 3},
                                     {"%25", 3},   {"%26", 3},   {"%2B", 3}, {"%2C", 3},
                                     {"%2F", 3},   {"%3A", 3},   {"%3B", 3}, {"%3D", 3},
                                     {"%3F", 3},   {"%40", 3}};

constexpr ClassTable MakeUrlTable() {
    ClassTable table{};
    const char special[] = " $%&+,/:;=?@";
    for (std::uint8_t i = 0; special[i] != '\0'; ++i)
        table[static_cast<unsigned char>(special[i])] = static_cast<std::uint8_t>(i + 2);
    table['\t'] = kDrop;
    table['\n'] = kDrop;
    table['\r'] = kDrop;
    return table;
}

constexpr ClassTable kXmlTable = MakeXmlTable(false);
constexpr ClassTable kXmlExTable = MakeXmlTable(true);
constexpr ClassTable kUrlTable = MakeUrlTable();

// Replacement texts are at most 6 bytes; the writer stores them 8 bytes at a
// time into slack it leaves behind the output and trims afterwards.
constexpr std::size_t kSlack = 8;

template <std::size_t N>
struct PaddedTexts {
    char bytes[N][kSlack];
    std::uint8_t sizes[N];
};

template <std::size_t N>
constexpr PaddedTexts<N> Pad(const Replacement (&texts)[N]) {
    PaddedTexts<N> padded{};
    for (std::size_t i = 0; i < N; ++i) {
        for (std::size_t j = 0; j < texts[i].size; ++j) padded.bytes[i][j] = texts[i].text[j];
        padded.sizes[i] = texts[i].size;
    }
    return padded;
}

template <std::size_t N>
void AppendEscaped(std::string &out, std::string_view text, const ClassTable &classes,
                   const PaddedTexts<N> &texts) {
    if (text.empty()) return;
    if (const void *zero = std::memchr(text.data(), 0, text.size()))
        text = text.substr(0, static_cast<std::size_t>(static_cast<const char *>(zero) - text.data()));
    const auto *in = reinterpret_cast<const unsigned char *>(text.data());
    const std::size_t n = text.size();

    // Pass 1: the exact output size.
    std::size_t size = 0;
    std::size_t changed = 0;  // replaced or dropped bytes; their sizes may cancel out
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t cls = classes[in[i]];
        size += cls == kCopy ? 1 : texts.sizes[cls];
        changed += cls != kCopy;
    }
    const std::size_t start = out.size();
    if (changed == 0) {  // nothing to replace or drop
        out.append(text);
        return;
    }
    // Pass 2: write in place.
    out.resize(start + size + kSlack);
    char *dst = out.data() + start;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t cls = classes[in[i]];
        if (cls == kCopy) {
            *dst++ = static_cast<char>(in[i]);
        } else {
            std::memcpy(dst, texts.bytes[cls], kSlack);
            dst += texts.sizes[cls];
        }
    }
    out.resize(start + size);
}

constexpr auto kXmlPadded = Pad(kXmlTexts);
constexpr auto kUrlPadded = Pad(kUrlTexts);

}  // namespace

void AppendXmlEscaped(std::string &out, std::string_view text) {
    AppendEscaped(out, text, kXmlTable, kXmlPadded);
}

void AppendXmlEscapedEx(std::string &out, std::string_view text) {
    AppendEscaped(out, text, kXmlExTable, kXmlPadded);
}

void AppendUrlEncoded(std::string &out, std::string_view text) {
    AppendEscaped(out, text, kUrlTable, kUrlPadded);
}

std::size_t Utf16Length(const char16_t *utf16) {
    std::size_t n = 0;
    if (utf16 != nullptr)
        while (utf16[n] != 0) ++n;
    return n;
}

void AppendUtf8FromUtf16(std::string &out, const char16_t *s, std::size_t units) {
    out.reserve(out.size() + units);
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t cp = s[i];
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        }
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}
