// The escaped forms of a text. Each stops at the first zero byte, as the
// zero-terminated texts they were designed for do.
#include <cstdint>

#include "request/tsl_string.h"

namespace {

// Control bytes that XML 1.0 cannot carry; they are dropped.
inline bool IsDroppedControl(unsigned char c) {
    return (c >= 1 && c <= 8) || c == 11 || c == 12 || (c >= 14 && c <= 31);
}

// Writes runs of bytes that need no escaping in one append.
template <typename Replace>
void AppendEscaped(std::string &out, std::string_view text, Replace replace) {
    out.reserve(out.size() + text.size());
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0) {
            out.append(text.data() + runStart, i - runStart);
            return;
        }
        std::string_view replacement;
        if (!replace(c, replacement)) continue;
        out.append(text.data() + runStart, i - runStart);
        out.append(replacement);
        runStart = i + 1;
    }
    out.append(text.data() + runStart, text.size() - runStart);
}

bool XmlReplacement(unsigned char c, std::string_view &r) {
    switch (c) {
        case '&': r = "&amp;"; return true;
        case '<': r = "&lt;"; return true;
        case '>': r = "&gt;"; return true;
        case '"': r = "&quot;"; return true;
        case '\'': r = "&apos;"; return true;
        default:
            if (IsDroppedControl(c)) {
                r = {};
                return true;
            }
            return false;
    }
}

}  // namespace

void AppendXmlEscaped(std::string &out, std::string_view text) {
    AppendEscaped(out, text, XmlReplacement);
}

void AppendXmlEscapedEx(std::string &out, std::string_view text) {
    AppendEscaped(out, text, [](unsigned char c, std::string_view &r) {
        switch (c) {
            case '\t': r = "\\t"; return true;
            case '\n': r = "\\n"; return true;
            case '\r': r = "\\r"; return true;
            case '\\': r = "\\\\"; return true;
            default: return XmlReplacement(c, r);
        }
    });
}

void AppendUrlEncoded(std::string &out, std::string_view text) {
    AppendEscaped(out, text, [](unsigned char c, std::string_view &r) {
        switch (c) {
            case ' ': r = "%20"; return true;
            case '$': r = "%24"; return true;
            case '%': r = "%25"; return true;
            case '&': r = "%26"; return true;
            case '+': r = "%2B"; return true;
            case ',': r = "%2C"; return true;
            case '/': r = "%2F"; return true;
            case ':': r = "%3A"; return true;
            case ';': r = "%3B"; return true;
            case '=': r = "%3D"; return true;
            case '?': r = "%3F"; return true;
            case '@': r = "%40"; return true;
            case '\t':
            case '\n':
            case '\r': r = {}; return true;
            default: return false;
        }
    });
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
