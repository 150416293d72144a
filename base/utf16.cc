#include "base/utf16.h"

#include <cstdint>
#include <utility>

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
            // Runs of ASCII (most of any request) go over in blocks.
            char block[256];
            std::size_t n = 0;
            for (; i < units && s[i] < 0x80; ++i) {
                block[n++] = static_cast<char>(s[i]);
                if (n == sizeof block) out.append(block, std::exchange(n, 0));
            }
            out.append(block, n);
            --i;
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
