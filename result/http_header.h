// The HTTP/1.1 response header written in front of a response in raw mode.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

// `when` as an HTTP date in Coordinated Universal Time with English names,
// for example "Mon, 07 Dec 2026 16:15:31 GMT", whatever the process locale.
std::string HttpDate(std::time_t when);

// The status line, Date (of `when`), Server, Connection, Content-Type and
// Content-Length (`bodyLength`) lines and the empty line. Always 200: errors
// travel in the body.
std::string HttpResponseHeader(std::size_t bodyLength, std::time_t when);
