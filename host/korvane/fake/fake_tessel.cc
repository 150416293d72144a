// A stand-in plug-in for the host's end-to-end tests: it turns request texts
// into host callback calls, so that the tests can drive the host's Varnix
// side ("SendEvent", "CallTessel") with exactly the inputs they need.
//   "event:TEXT"             -> SendEvent(TEXT); answers "delivered=N"
//   "call:REMOTE:TABLE"      -> CallTessel to REMOTE for a select on TABLE;
//                               answers "rc=N" and the response text
//   "fail:N"                 -> answers N and stores no response
//   a select on table PATH   -> answers the contents of the file PATH (so that
//                               `korvane-host query PATH` prints any table)
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "dorvex.h"

namespace {

gwcbfunc g_callback = nullptr;

char *Answer(const std::string &text, uintptr_t lengthSlot) {
    char *block = static_cast<char *>(std::malloc(text.size() + 1));
    if (block == nullptr) return nullptr;
    std::memcpy(block, text.c_str(), text.size() + 1);
    if (lengthSlot != 0)
        *reinterpret_cast<uint32_t *>(lengthSlot) = static_cast<uint32_t>(text.size());
    return block;
}

std::string Run(const std::string &request) {
    if (g_callback == nullptr) return "no callback";
    if (request.rfind("event:", 0) == 0) {
        const int32_t delivered = g_callback("FakeTessel", "SendEvent", request.c_str() + 6);
        return "delivered=" + std::to_string(delivered);
    }
    if (request.rfind("call:", 0) == 0) {
        const std::size_t colon = request.find(':', 5);
        const std::string remote = request.substr(5, colon - 5);
        const std::string table = colon == std::string::npos ? "" : request.substr(colon + 1);
        // Blanks percent-encoded, as the plug-in sends requests.
        std::string text = "<tesselrequest%20version=\"2.0\"><select><from><db%20name=\"";
        for (char c : table) text += c == ' ' ? std::string("%20") : std::string(1, c);
        text += "\"/></from></select></tesselrequest>";
        char *response = nullptr;
        const int32_t rc = g_callback("FakeTessel", "CallTessel", "localhost", remote.c_str(),
                                      text.c_str(), &response);
        std::string answer = "rc=" + std::to_string(rc) + "\n";
        if (response != nullptr) {
            answer += response;
            std::free(response);
        }
        return answer;
    }
    if (const std::size_t at = request.find("<db name=\""); at != std::string::npos) {
        const std::size_t end = request.find('"', at + 10);
        std::ifstream file(request.substr(at + 10, end - at - 10), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    return "unknown request";
}

}  // namespace

extern "C" NORLOTESSEL_EXPORT int32_t Dorvex(const char *, const char *, const char *, void *,
                                             const char *action, uintptr_t arg1, uintptr_t arg2,
                                             uintptr_t, uintptr_t, uintptr_t, uintptr_t arg6) {
    if (std::strcmp(action, "initialize") == 0) {
        g_callback = reinterpret_cast<gwcbfunc>(arg1);
        return 0;
    }
    if (std::strcmp(action, "terminate") == 0) {
        g_callback = nullptr;
        return 0;
    }
    if (std::strcmp(action, "free") == 0) {
        std::free(reinterpret_cast<char *>(arg1));
        return 0;
    }
    if (std::strcmp(action, "invoke") == 0 && arg1 != 0 && arg2 != 0) {
        const char *request = reinterpret_cast<const char *>(arg1);
        if (std::strncmp(request, "fail:", 5) == 0) return std::atoi(request + 5);
        *reinterpret_cast<char **>(arg2) = Answer(Run(reinterpret_cast<const char *>(arg1)), arg6);
        return 0;
    }
    return 400;
}
