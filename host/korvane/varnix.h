// The host's stand-in for the sibling plug-in Varnix, reached by the plug-in
// through its host callback: "SendEvent" hands events to an EventSink and
// "CallTessel" to Varnix for the trust list answers with the configured
// issuer keys. The callback is a plain C function pointer, so its settings
// are process-wide.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

class EventSink;

struct VarnixSettings {
    EventSink *events = nullptr;         // null: events are refused
    bool hasTrustList = false;           // false: trust-list calls fail
    std::vector<std::string> trustList;  // base64 issuer keys, in file order
};

// Makes `settings` (not owned, may be null) the callback's state. Set it
// before "initialize" and clear it after "terminate".
void InstallVarnix(const VarnixSettings *settings);

// The gwcbfunc handed to the plug-in.
extern "C" int32_t KorvaneHostCallback(const char *tesselName, const char *operation, ...);

// Reads issuer keys, one per line; blank lines and lines starting with "#"
// are skipped. False with `error` set when the file cannot be read.
bool LoadTrustList(const std::string &path, std::vector<std::string> &keys, std::string &error);

// The RESPONSE_TABLE document Varnix answers a trust-list request with.
std::string TrustListResponse(const std::string &table, const std::vector<std::string> &keys);

}  // namespace korvane
