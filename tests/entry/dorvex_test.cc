// The action protocol of Dorvex: result codes, log lines, version gates, trace
// levels and configuration keys, each as a table of cases.
#include <cstdlib>
#include <filesystem>

#include "base/trace_log.h"
#include "support/harness.h"

namespace {

const std::string kDescribe =
    "<tesselrequest><sponsor>S</sponsor><admin action=\"describe\"/></tesselrequest>";
const std::string kSampleAge = nt::ReadFile(nt::SourcePath("examples/requests/sample-age.xml"));
const std::string kNoObject =
    "WARN:  [tid] TesselEntry: INVOKE: no object/pointer tessel NorloTessel dispatch Dorvex\n";
const std::string kFreeNoObject = "ERROR: [tid] TesselEntry: FREE: no object\n";
const std::string kLongWord(9000, 'w');

std::string Config(const std::string &entries) {
    return "<KorvaneConfig><Tessel>" + entries + "</Tessel></KorvaneConfig>";
}

enum Args { kNone, kRequest, kNoRequest, kNoLocation, kBlock, kWords };

TEST(Dorvex, ActionsAnswerTheirCodesAndLogLines) {
    const struct {
        bool initialized;
        const char *action;
        Args args;
        int32_t result;
        std::string log;  // at level 2
    } cases[] = {
        {false, "invoke", kRequest, 400, kNoObject},
        {true, "invoke", kNoRequest, 400, kNoObject},
        {true, "invoke", kNoLocation, 400, kNoObject},
        {true, "invoke", kRequest, 0, ""},
        {true, "INVOKE", kRequest, 0, ""},
        {true, "iNvOkE", kRequest, 0, ""},
        {false, "free", kBlock, 400, kFreeNoObject},
        {true, "free", kNone, 400, kFreeNoObject},
        {true, "FREE", kBlock, 0, ""},
        {false, "SetKey", kWords, 400, ""},
        {true, "setkey", kWords, 400, ""},
        {false, "AuthCheck", kWords, 400, ""},
        {true, "AUTHCHECK", kWords, 400, ""},
        {false, "initialize", kNone, 0, ""},
        {true, "Initialize", kNone, 0, ""},
        {false, "terminate", kNone, 0, ""},
        {true, "TERMINATE", kNone, 0, ""},
        {false, "bogus", kNone, 400, "WARN:  [tid] TesselEntry: unknown action [bogus]\n"},
        {true, "initialise", kNone, 400, "WARN:  [tid] TesselEntry: unknown action [initialise]\n"},
        {true, "invoke ", kRequest, 400, "WARN:  [tid] TesselEntry: unknown action [invoke ]\n"},
        {true, "", kNone, 400, "WARN:  [tid] TesselEntry: unknown action []\n"},
        {true, nullptr, kNone, 400, "WARN:  [tid] TesselEntry: unknown action []\n"},
        {true, kLongWord.c_str(), kNone, 400,
         ("WARN:  [tid] TesselEntry: unknown action [" + kLongWord).substr(0, 8170 + 13) + "\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.action ? c.action : "(null)").substr(0, 20) + " " +
                     std::to_string(c.args));
        nt::Host host;
        ASSERT_EQ(c.initialized ? host.Initialize() : 0, 0);
        TslSetLevel(TSL_WARNING);
        host.TakeLog();
        char *response = nullptr;
        char *block = static_cast<char *>(std::malloc(8));
        uintptr_t a1 = 0, a2 = 0;
        if (c.args == kRequest || c.args == kNoLocation)
            a1 = reinterpret_cast<uintptr_t>(kDescribe.c_str());
        if (c.args == kRequest || c.args == kNoRequest) a2 = reinterpret_cast<uintptr_t>(&response);
        if (c.args == kBlock) a1 = reinterpret_cast<uintptr_t>(block);
        if (c.args == kWords) a1 = 1, a2 = 2;
        EXPECT_EQ(host.Call(c.action, a1, a2, c.args == kWords ? 3 : 0), c.result);
        EXPECT_EQ(host.TakeLog(), c.log);
        EXPECT_EQ(response != nullptr, c.args == kRequest && c.result == 0);
        EXPECT_EQ(response ? host.Call("free", reinterpret_cast<uintptr_t>(response)) : 0, 0);
        if (!(c.args == kBlock && c.result == 0)) std::free(block);
    }
}

TEST(Dorvex, VersionGates) {
    const struct {
        const char *version;
        bool configured;  // initialize took the callback and configuration
        bool remote;      // invoke used arg4
        bool length;      // invoke used arg6
    } cases[] = {
        {"V01", false, false, false},     {"V01.999", false, false, false},
        {"V01x", false, false, false},    {"V02.000.01", true, true, false},
        {"V02.000.02", true, true, true}, {"V02.000.010", true, true, true},
        {"V02.000.0", true, true, true},  {"V03", true, true, true},
        {"v01", true, true, true},        {"V0", true, true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.version);
        nt::Host host;
        host.version = c.version;
        ASSERT_EQ(host.Initialize(Config("<Raw>true</Raw>").c_str()), 0);
        EXPECT_EQ(host.TakeLog().find("setting gwcbfunc to 0xCALLBACK\n") != std::string::npos,
                  c.configured);
        const nt::Reply reply = host.Invoke(kSampleAge, "192.0.2.9");
        EXPECT_EQ(reply.result, 0);
        EXPECT_EQ(reply.response.rfind("HTTP/1.1 200 OK\r\n", 0) == 0, c.configured);
        EXPECT_EQ(reply.length, c.length ? reply.response.size() : kSampleAge.size());
        const std::vector<std::string> events = host.TakeEvents();
        ASSERT_EQ(events.size(), c.configured ? 1u : 0u);
        if (c.configured) {
            const nt::Fields fields = nt::EventFields(events[0]);
            EXPECT_EQ(!fields.empty() && fields[0].first == "Remote Client", c.remote);
        }
    }
}

TEST(Dorvex, TraceLevelsDecideWhichMessagesPass) {
    // One message of each level, in this order: 0, 1, 2, 3 and 5.
    const std::string lines[] = {
        "?LEVEL?[tid] level 0\n",
        kFreeNoObject,
        "WARN:  [tid] TesselEntry: unknown action [x]\n",
        "TRACE: [tid] TesselEntry: TERMINATE tessel [NorloTessel] dispatch [Dorvex]\n",
        "?LEVEL?[tid] level 5\n",
    };
    std::string expected;
    for (int level = 0; level <= 4; ++level) {
        SCOPED_TRACE(level);
        nt::Host host;
        TslSetLevel(level);
        TslLog(0, "level 0\n");
        host.Call("free");
        host.Call("x");
        host.Call("terminate");
        TslLog(5, "level 5\n");
        expected += lines[level];
        EXPECT_EQ(host.TakeLog(), expected);
    }
}

TEST(Configuration, KeysDecideFileLevelRawAndEventTime) {
    const nt::TempCwd dir;
    const struct {
        const char *entries;
        const char *expected;
    } cases[] = {
        {"", "level3"},
        {"<DebugLevel>TSL_FILE</DebugLevel>", "file level4"},
        {"<DebugLevel>tsl_file</DebugLevel>", "level3"},
        {"<debuglevel>TSL_FILE</debuglevel>", "level3"},
        {"<DebugLevel> TSL_FILE</DebugLevel>", "level3"},
        {"<DebugLevel>TSL_FILE</DebugLevel><DebugLevel>TSL_ERROR</DebugLevel>", "file level3"},
        {"<DebugLevel>TSL_NOLEVEL</DebugLevel><DebugLevel>TSL_FILE</DebugLevel>", "file level4"},
        {"<DebugLevel>TSL_FILE</DebugLevel><DebugLevel>TSL_FILE</DebugLevel>", "file level4"},
        {"<Raw>TRUE</Raw>", "level3 raw"},
        {"<RAW>true</RAW>", "level3 raw"},
        {"<Raw>yes</Raw>", "level3"},
        {"<EventTime>30</EventTime>", "level3 t30"},
        {"<EventTime>0</EventTime><EventTime>-5</EventTime><EventTime>abc</EventTime>"
         "<EventTime>30s</EventTime>",
         "level3 t10 t10 t10 t30"},
        {"<DebugLevel>TSL_FILE</DebugLevel><Raw>true</Raw><Broken>", "file level4 raw"},
    };
    const std::string eventTime = "NorloTessel: set EventTime to ";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entries);
        const std::string file = dir.Path("NtCfg.log");
        {
            nt::Host host("NtCfg");
            ASSERT_EQ(host.Initialize(Config(c.entries).c_str()), 0);
            std::string observed = std::filesystem::exists(file) ? "file " : "";
            observed += "level" + std::to_string(TslGetLevel());
            if (host.Invoke(kDescribe).response.rfind("HTTP/1.1", 0) == 0) observed += " raw";
            const std::string log = host.TakeLog();
            for (auto at = log.find(eventTime); at != std::string::npos;
                 at = log.find(eventTime, at + 1))
                observed += " t" + std::to_string(std::atoi(log.c_str() + at + eventTime.size()));
            EXPECT_EQ(observed, c.expected);
            if (std::filesystem::exists(file)) {
                EXPECT_EQ(nt::OpenCount(file), 1);
            }
        }
        EXPECT_EQ(nt::OpenCount(file), 0) << "terminate closes the log file";
        std::filesystem::remove(file);
    }
}

TEST(Configuration, SecondInitializeReplacesTheObject) {
    const nt::TempCwd dir;
    const std::string file = dir.Path("NtTwice.log");
    const std::string fileMode = Config("<DebugLevel>TSL_FILE</DebugLevel>");
    nt::Host host("NtTwice");
    ASSERT_EQ(host.Initialize(fileMode.c_str()), 0);
    // The earlier object goes first: had it gone after the new one was built,
    // it would close the new one's file and end its application.
    ASSERT_EQ(host.Initialize(fileMode.c_str()), 0);
    EXPECT_EQ(nt::OpenCount(file), 1);
    const nt::Reply reply = host.Invoke(kSampleAge);
    EXPECT_NE(reply.response.find(">Dalkah</VAL>"), std::string::npos);
    host.Call("marker");
    EXPECT_NE(nt::ReadFile(file).find("unknown action [marker]\n"), std::string::npos);
    ASSERT_EQ(host.Initialize(), 0);
    EXPECT_EQ(nt::OpenCount(file), 0);
}

}  // namespace
