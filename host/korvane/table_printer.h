// RESPONSE_TABLE documents as aligned text tables for a terminal.
#pragma once

#include <string>

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
std::string FormatTable(const ResponseTable &table);

// The display width of UTF-8 text (code points; continuation bytes do not count).
std::size_t DisplayWidth(const std::string &text);

}  // namespace korvane
