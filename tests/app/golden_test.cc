// Whole outputs of every example request, bare and in a SOAP envelope, with and
// without raw mode: the response bytes, the trace lines and the events sent to
// the host, under a fixed clock. tests/data/README.md says how to regenerate.
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "base/trace_log.h"
#include "support/harness.h"

namespace {

const char *const kRaw = "<KorvaneConfig><Tessel><Raw>true</Raw></Tessel></KorvaneConfig>";

// The machine's host name and system description are the only texts that vary.
std::string JoinedEvents(const std::vector<std::string> &events) {
    std::string text;
    for (std::string event : events) {
        for (const std::string key : {"Hostname", "OS"}) {
            const std::string field = "name%3D\"" + key + "\"><%2Ftarget><atom%20value%3D\"s%3A";
            const std::size_t from = event.find(field);
            if (from == std::string::npos) continue;
            const std::size_t at = from + field.size();
            event.replace(at, event.find('"', at) - at, "@" + key + "@");
        }
        text += event + "\n";
    }
    return text;
}

TEST(Golden, ExampleRequestsGiveTheirExactOutputs) {
    std::vector<std::filesystem::path> requests;
    for (const auto &entry :
         std::filesystem::directory_iterator(nt::SourcePath("examples/requests")))
        if (entry.path().extension() == ".xml") requests.push_back(entry.path());
    std::sort(requests.begin(), requests.end());
    ASSERT_EQ(requests.size(), 18u);
    for (const auto &path : requests) {
        for (const bool raw : {false, true}) {
            const std::string name = "golden/" + path.stem().string() + (raw ? ".raw" : "");
            SCOPED_TRACE(name);
            nt::Host host;
            ASSERT_EQ(host.Initialize(raw ? kRaw : nullptr), 0);
            if (raw) TslSetLevel(TSL_FILE);  // every level, without a file
            host.TakeLog();
            const nt::Reply reply = host.Invoke(nt::ReadFile(path), "192.0.2.1");
            EXPECT_EQ(reply.result, 0);
            EXPECT_EQ(reply.freed, 0);
            EXPECT_TRUE(nt::MatchesGolden(name + ".response", reply.response));
            EXPECT_TRUE(nt::MatchesGolden(name + ".trace", host.TakeLog()));
            EXPECT_TRUE(nt::MatchesGolden(name + ".events", JoinedEvents(host.TakeEvents())));
        }
    }
}

TEST(Golden, LogFileOfFileMode) {
    const nt::TempCwd dir;
    {
        nt::Host host("NtFile");
        host.Initialize(
            "<KorvaneConfig><Tessel><DebugLevel>TSL_FILE</DebugLevel></Tessel></KorvaneConfig>");
        host.Invoke(nt::ReadFile(nt::SourcePath("examples/requests/sample-age.xml")));
        host.Call("no-such-action");
    }
    EXPECT_TRUE(nt::MatchesGolden("golden/file-mode.trace-file",
                                  nt::Normalised(nt::ReadFile(dir.Path("NtFile.log")))));
}

}  // namespace
