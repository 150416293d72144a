#include "result/http_header.h"

#include <locale.h>
#include <time.h>

#include <string>

namespace {

// The C locale, made once: strftime_l with it names days and months in
// English whatever locale the host process runs in.
locale_t ClassicLocale() {
    static const locale_t classic = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return classic;
}

}  // namespace

std::string HttpDate(std::time_t when) {
    struct tm utc {};
    if (gmtime_r(&when, &utc) == nullptr) return std::string();
    char text[128];
    const locale_t classic = ClassicLocale();
    const std::size_t length =
        classic != static_cast<locale_t>(0)
            ? strftime_l(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc, classic)
            : strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return std::string(text, length);
}

std::string HttpResponseHeader(std::size_t bodyLength, std::time_t when) {
    std::string header = "HTTP/1.1 200 OK\r\nDate: ";
    header += HttpDate(when);
    header +=
        "\r\nServer: Korvane\r\nConnection: close\r\n"
        "Content-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: ";
    header += std::to_string(bodyLength);
    header += "\r\n\r\n";
    return header;
}
