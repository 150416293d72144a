// Shared helpers of the request tests: parse a whole request or configuration
// text with the trace log captured.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "request/config_entry.h"
#include "result/tsl_data.h"

namespace reqtest {

struct ParsedRequest {
    std::unique_ptr<tslData> data;
    int32_t status = -1;
    std::string log;  // what the parser wrote to the debugger channel
};

// Builds the request record as the invoke pipeline does and parses it.
ParsedRequest ParseText(const std::string &text, bool raw = false);

struct ParsedConfig {
    std::vector<ConfigEntry> entries;
    bool raw = false;
    int32_t status = -1;
    std::string log;
};

ParsedConfig ParseConfig(const std::string &text, const char *tesselName = "CfgTessel");

// Lines of a captured log with their 20-character prefixes removed.
std::vector<std::string> Messages(const std::string &log);

// A tesselrequest inside a SOAP envelope around `body` (the select or admin part).
std::string Envelope(const std::string &body);

}  // namespace reqtest
