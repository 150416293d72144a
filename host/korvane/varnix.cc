#include "varnix.h"

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

#include "event_sink.h"
#include "text_util.h"
#include "xml_readers.h"

namespace korvane {

namespace {

std::atomic<const VarnixSettings *> g_settings{nullptr};

int32_t SendEvent(const VarnixSettings *settings, const char *urlEncoded) {
    if (settings == nullptr || settings->events == nullptr || urlEncoded == nullptr) return 0;
    return settings->events->Submit(urlEncoded) ? 1 : 0;
}

int32_t CallTessel(const VarnixSettings *settings, const char *remoteName, const char *urlEncoded,
                   char **response) {
    if (response == nullptr) return 1;
    *response = nullptr;
    if (settings == nullptr || !settings->hasTrustList || remoteName == nullptr ||
        urlEncoded == nullptr || std::strcmp(remoteName, "Varnix") != 0)
        return 1;
    RequestSummary request;
    std::string error;
    if (!ReadRequestText(UrlDecode(urlEncoded), request, error)) return 1;
    if (request.table != "TrustList" && request.table != "GetPublicKey") return 1;

    const std::string text = TrustListResponse(request.table, settings->trustList);
    // The plug-in releases the answer with free().
    char *block = static_cast<char *>(std::malloc(text.size() + 1));
    if (block == nullptr) return 1;
    std::memcpy(block, text.c_str(), text.size() + 1);
    *response = block;
    return 0;
}

}  // namespace

void InstallVarnix(const VarnixSettings *settings) {
    g_settings.store(settings);
}

extern "C" int32_t KorvaneHostCallback(const char *tesselName, const char *operation, ...) {
    (void)tesselName;
    if (operation == nullptr) return 0;
    const VarnixSettings *settings = g_settings.load();
    va_list args;
    va_start(args, operation);
    int32_t result = 0;
    // Nothing may unwind into the plug-in's C frames.
    try {
        if (std::strcmp(operation, "SendEvent") == 0) {
            const char *event = va_arg(args, const char *);
            result = SendEvent(settings, event);
        } else if (std::strcmp(operation, "CallTessel") == 0) {
            va_arg(args, const char *);  // host: always this gateway
            const char *remoteName = va_arg(args, const char *);
            const char *request = va_arg(args, const char *);
            char **response = va_arg(args, char **);
            result = CallTessel(settings, remoteName, request, response);
        }
    } catch (...) {
        result = std::strcmp(operation, "CallTessel") == 0 ? 1 : 0;
    }
    va_end(args);
    return result;
}

bool LoadTrustList(const std::string &path, std::vector<std::string> &keys, std::string &error) {
    std::string text;
    if (!ReadFileText(path, text, error)) return false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::string_view key = Trim(line);
        if (key.empty() || key.front() == '#') continue;
        keys.emplace_back(key);
    }
    return true;
}

std::string TrustListResponse(const std::string &table, const std::vector<std::string> &keys) {
    char date[64] = "";
    const std::time_t now = std::time(nullptr);
    ctime_r(&now, date);
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<RESPONSE_TABLE>\n"
        "  <TBL_INFO>\n"
        "    <NAME>" +
        XmlEscape(table) +
        "</NAME>\n"
        "    <DATE>" +
        XmlEscape(date) +
        "</DATE>\n"
        "    <x>0</x>\n    <y>0</y>\n    <xTrend>0</xTrend>\n    <yTrend>0</yTrend>\n"
        "  </TBL_INFO>\n"
        "  <COLS>\n"
        "    <COL NAME=\"PublicKey\" TYPE=\"string\"/>\n"
        "  </COLS>\n"
        "  <RECS>\n";
    for (const std::string &key : keys)
        out += "    <REC>\n      <VAL>" + XmlEscape(key) + "</VAL>\n    </REC>\n";
    out += "  </RECS>\n</RESPONSE_TABLE>\n";
    return out;
}

}  // namespace korvane
