// Small text transformations shared by the host's subcommands.
#pragma once

#include <string>
#include <string_view>

namespace korvane {

// XML character escaping for element content and attribute values
// (& < > " ' become entities; other bytes pass unchanged).
std::string XmlEscape(std::string_view text);

// An attribute value for the plug-in's request reader: XML-escaped, and with
// every backslash doubled, because that reader turns "\n", "\t", "\r" and "\\"
// inside attribute values into control characters and a single backslash.
std::string RequestAttribute(std::string_view text);

// Percent-decoding ("%41" -> "A"); a "%" not followed by two hex digits stays
// as it is. "+" is not special.
std::string UrlDecode(std::string_view text);

// The table named by the first `db` element of a request text (its "name"
// attribute, entities decoded), or "" when there is none. A cheap scan for
// the metrics labels; the plug-in does the real parse.
std::string PeekTableName(std::string_view request);

// The text of the first NAME element after the first TBL_INFO tag of a
// plug-in response (entities decoded): the table it answered. "" when there
// is none or it is empty.
std::string AnsweredTableName(std::string_view response);

// Where `what` first occurs in `text` at or after `from` (npos: nowhere).
// The same answer as std::string_view::find, through memmem: in XML, where
// "<" comes every few bytes, a search that stops at each "<" costs several
// times more.
std::size_t FindText(std::string_view text, std::string_view what, std::size_t from = 0);

// ASCII lower-casing and case-insensitive equality.
std::string AsciiLower(std::string_view text);
bool AsciiIEquals(std::string_view a, std::string_view b);

std::string_view Trim(std::string_view text);

// Reads a whole file (or standard input for "-"); false with `error` set.
bool ReadFileText(const std::string &path, std::string &text, std::string &error);

}  // namespace korvane
