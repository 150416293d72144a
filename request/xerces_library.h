// Balanced use of the Xerces-C library, whose Initialize/Terminate counter is
// shared with anything else in the process and is not thread-safe: callers
// only use these from "initialize"/"terminate", which never overlap invokes.
#pragma once

#include <string>

namespace xerces_library {

// Initialises Xerces-C. On failure returns false and fills `error` with the
// library's message ("" for a non-Xerces exception).
bool Initialize(std::string &error);

// Releases the pooled readers and undoes one successful Initialize.
void Terminate();

}  // namespace xerces_library
