// The operator's web console: a page, its style sheet and its script, kept
// as plain files beside this header and compiled into korvane-host.
#pragma once

#include <string_view>
#include <utility>

namespace korvane {

struct ConsoleFile {
    std::string_view contentType;
    std::string_view body;
};

// The console file served at `path` (the request path without its query:
// "/", "/console.css" or "/console.js"); null for every other path.
const ConsoleFile *FindConsoleFile(std::string_view path);

// Header fields every console file is sent with. They confine the page to
// this host: a Content-Security-Policy that allows no inline code and no
// other origin, no framing, no type sniffing and no referrer.
extern const std::pair<std::string_view, std::string_view> kConsoleHeaders[5];

}  // namespace korvane
