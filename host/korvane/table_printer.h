// RESPONSE_TABLE documents as text tables for a terminal, CSV and JSON.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "xml_readers.h"

namespace korvane {

// The table as text:
//   NAME (DATE)
//    # | COL1  | COL2
//   ---+-------+-----
//    1 | value | 42
//   (N rows)
// Numeric columns are right-aligned; a value that carries a drill-down link
// is marked with a trailing " *" and a closing note names --follow. Control
// characters in values print as blanks. An ERROR block prints as
// "error CODE: DESCRIPTION" followed by its troubleshooting lines.
// With `maxWidth` > 0 no line is wider than that many code points: the
// widest columns are narrowed first, and a value cut to fit ends in "…"
// (its link mark kept); lines still too wide are cut the same way.
std::string FormatTable(const ResponseTable &table, std::size_t maxWidth);

// The records as CSV (RFC 4180): a header row of the column names, then one
// row per record, every row as wide as the widest record; CRLF line ends; a
// field is quoted when it holds a comma, a double quote, CR or LF (inner
// quotes doubled), or when it is the only field of its row and empty.
std::string FormatCsv(const ResponseTable &table);

// The records as a JSON array of objects, one per record, keys in column
// order: "COLUMN": "value", and "COLUMN.link": "request text" right after a
// value that has a link. A column without a name, or with the name of an
// earlier one, is keyed by its number from 1. Values are strings; bytes that
// are not UTF-8 become U+FFFD. Ends with a line feed.
std::string FormatJson(const ResponseTable &table);

// The display width of UTF-8 text (code points; continuation bytes do not count).
std::size_t DisplayWidth(std::string_view text);

// `text` cut to at most `width` code points, ending in "…" when it was cut.
// Never cuts inside a multi-byte character.
std::string CutToWidth(std::string_view text, std::size_t width);

}  // namespace korvane
