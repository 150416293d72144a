// Every escaping the plug-in applies to a text, in one place:
//  - XmlEscaped: "&", "<", ">", double and single quote become entities; the
//    control bytes 1-8, 11, 12 and 14-31 are dropped; all else is unchanged.
//  - XmlEscapedEx: XmlEscaped, and tab, line feed, carriage return and
//    backslash become \t, \n, \r and \\.
//  - UrlEncoded: blank $ % & + , / : ; = ? @ become %XX (upper-case hex); tab,
//    line feed and carriage return are dropped; all else is unchanged.
//  - request attribute and content: how texts go into the request texts the
//    plug-in builds (links, queries), so that the parser reads them back.
// The first three stop at the first zero byte, as the zero-terminated texts
// they were designed for do.
//
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

void AppendXmlEscaped(std::string &out, std::string_view text);
void AppendXmlEscapedEx(std::string &out, std::string_view text);
void AppendUrlEncoded(std::string &out, std::string_view text);

// The most bytes XmlEscaped turns one byte into ("&quot;", "&apos;").
inline constexpr std::size_t kXmlEscapeWidest = 6;

// The exact number of bytes AppendXmlEscaped appends for `text`.
std::size_t XmlEscapedSize(std::string_view text);
// False when the XmlEscaped form of `text` is `text` itself.
bool XmlEscapingChanges(std::string_view text);

// Writing into room the caller made: WriteXmlEscaped writes the XmlEscaped form
// of `text` at `dst` and returns the end of what it wrote. It may scribble up
// to kEscapeSlack bytes past that end, so `dst` needs XmlEscapedSize(text) +
// kEscapeSlack bytes of room.
inline constexpr std::size_t kEscapeSlack = 16;
char *WriteXmlEscaped(char *dst, std::string_view text);

// A text for an attribute value of a built request, so that the parser reads
// back exactly `text`: "&" and "<" become entity references; backslash, tab,
// line feed and carriage return are written as the parser's backslash
// escapes. Double quotes stay as they are for the quote repair to mend; in a
// text that holds one, "=" and ">" are written as character references, as
// the repair reads an "=" or ">" as the end of a value.
void AppendRequestAttribute(std::string &out, std::string_view text);

// A text for element content of a built request: "&" and "<" become entity
// references, and so does the ">" of a "]]>".
void AppendRequestContent(std::string &out, std::string_view text);

// The UrlEncoded rule, shared by AppendUrlEncoded and UrlEncodeLiteral: which
// bytes become "%" and two upper-case hex digits, and which are dropped.
constexpr bool UrlEscapes(char byte) {
    return std::string_view(" $%&+,/:;=?@").find(byte) != std::string_view::npos;
}
constexpr bool UrlDrops(char byte) {
    return byte == '\t' || byte == '\n' || byte == '\r';
}

// A literal's UrlEncoded form, worked out by the compiler, for fixed markup
// that is sent encoded.
template <std::size_t N>
struct EncodedLiteral {
    char text[3 * N] = {};
    std::size_t size = 0;
    constexpr std::string_view view() const { return {text, size}; }
};

template <std::size_t N>
consteval EncodedLiteral<N> UrlEncodeLiteral(const char (&literal)[N]) {
    constexpr char kHex[] = "0123456789ABCDEF";
    EncodedLiteral<N> out;
    for (std::size_t i = 0; i + 1 < N; ++i) {
        const char c = literal[i];
        if (UrlDrops(c)) continue;
        if (UrlEscapes(c)) {
            out.text[out.size++] = '%';
            out.text[out.size++] = kHex[(static_cast<unsigned char>(c) >> 4) & 0xF];
            out.text[out.size++] = kHex[static_cast<unsigned char>(c) & 0xF];
        } else {
            out.text[out.size++] = c;
        }
    }
    return out;
}
