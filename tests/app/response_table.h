// Reads a RESPONSE_TABLE (or RESPONSE) text back with a real XML reader, so the
// tests see what a portal would see: unescaped values and links.
#pragma once

#include <string>
#include <vector>

namespace apptest {

struct Cell {
    std::string text;
    std::string link;
};

struct Table {
    bool wellFormed = false;
    std::string name;
    std::vector<std::string> columns;
    std::vector<std::string> types;
    std::vector<std::vector<Cell>> rows;
    int errorCode = 0;
    std::string description;
    std::vector<std::string> troubleshooting;
    std::vector<std::string> applications;  // describe: APPLICATION_NAME texts
    std::string sponsorClass;

    // The first cell of each row.
    std::vector<std::string> FirstColumn() const;
};

// Parses the response; an HTTP header in front (raw mode) is skipped.
Table ReadTable(const std::string &response);

// The event fields of a URL-encoded "EventSend" request: (name, encoded value).
std::vector<std::pair<std::string, std::string>> ReadEvent(const std::string &urlEncoded);

}  // namespace apptest
