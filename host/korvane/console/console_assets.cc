#include "console/console_assets.h"

namespace korvane {

namespace console_files {
// Defined in the source that embed.cmake writes from the files.
extern const std::string_view index_html;
extern const std::string_view console_css;
extern const std::string_view console_js;
}  // namespace console_files

const std::pair<std::string_view, std::string_view> kConsoleHeaders[5] = {
    // The page talks to its own origin only (the plug-in's POST door) and
    // runs no inline script or style.
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
     "base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-cache"},
};

const ConsoleFile *FindConsoleFile(std::string_view path) {
    static const struct {
        std::string_view path;
        ConsoleFile file;
    } kFiles[] = {
        {"/", {"text/html; charset=utf-8", console_files::index_html}},
        {"/console.css", {"text/css; charset=utf-8", console_files::console_css}},
        {"/console.js", {"text/javascript; charset=utf-8", console_files::console_js}},
    };
    for (const auto &entry : kFiles)
        if (entry.path == path) return &entry.file;
    return nullptr;
}

}  // namespace korvane
