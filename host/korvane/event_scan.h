// A fast reader for the event texts the plug-in sends. Every event has the
// same machine-written shape (one EQUAL predicate per field, values
// XML-escaped), so a strict scan is enough and far cheaper than a parser;
// anything that deviates from that shape is left to the XML reader.
#pragma once

#include <string_view>

#include "xml_readers.h"

namespace korvane {

// Fills `event` and returns true when `text` has exactly the shape the
// plug-in writes; false (with `event` unspecified) otherwise.
bool ScanEventText(std::string_view text, RequestSummary &event);

}  // namespace korvane
