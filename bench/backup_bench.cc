// Whole invokes of "Norlo Server - Message Log" and "Norlo Server - Users"
// through Dorvex over generated state documents (a small one and one ten times
// larger: 10,000 and 100,000 messages, 1,000 and 10,000 users in a five-level
// tree), beside the writing floor: the same response bytes written from
// prepared rows. Prints per-row scaling, invoke / floor and the peak memory of
// one invoke above what the process held before it (the loaded state
// included) as a multiple of the response size.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "loaded_plugin.h"

namespace {

using bench_plugin::kDispatch;
using bench_plugin::kName;
using bench_plugin::kVersion;
using bench_plugin::Plugin;

// A state document of `messages` messages and `users` users spread evenly over
// the 500 organizations at the fifth level (root, 4, 20, 100, 500).
std::vector<std::string> g_stateFiles;  // removed at the end

std::string StateFile(int messages, int users) {
    const std::string path = "/tmp/nt-backup-bench-" + std::to_string(getpid()) + "-" +
                             std::to_string(messages) + "-" + std::to_string(users) + ".xml";
    g_stateFiles.push_back(path);
    std::ofstream out(path, std::ios::binary);
    out << "<NorloServer><MessageLog>\n";
    for (int i = 0; i < messages; ++i) {
        char date[16];
        std::snprintf(date, sizeof date, "%04X%04X", 0x30CF + i % 7, 0x53CB + i % 600);
        out << "<Message severity=\"" << (i % 5 == 0 ? 258 : i % 3) << "\" date=\"" << date
            << "\" source=\"Scheduler " << i % 17 << "\" description=\"Backup of user" << i
            << " finished &amp; verified\" extension=\"" << i * 7 % 1000 << " files\"/>\n";
    }
    out << "</MessageLog><Organization name=\"Root\" active=\"1\">\n";
    int user = 0;
    for (int a = 0; a < 4; ++a) {
        out << "<Organization name=\"Division " << a << "\" active=\"1\">";
        for (int b = 0; b < 5; ++b) {
            out << "<Organization name=\"Region " << a << b << "\" active=\"1\">";
            for (int c = 0; c < 5; ++c) {
                out << "<Organization name=\"Office " << a << b << c << "\">";
                for (int d = 0; d < 5; ++d) {
                    out << "<Organization name=\"Team " << a << b << c << d << "\">\n";
                    for (int n = 0; n < users / 500; ++n, ++user)
                        out << "<User name=\"User " << user
                            << "\" active=\"1\" config=\"Office\" lastLoginDate=\"06/15/04 "
                               "10:30\" dataPath=\"/srv/norlo/users/u"
                            << user << "\" storageSize=\"" << user * 4096L
                            << "\" lastBackupDate=\"06/14/04 22:00\"/>\n";
                    out << "</Organization>";
                }
                out << "</Organization>";
            }
            out << "</Organization>";
        }
        out << "</Organization>";
    }
    out << "</Organization></NorloServer>\n";
    return path;
}

const std::string &SmallState() {
    static const std::string path = StateFile(10000, 1000);
    return path;
}
const std::string &LargeState() {
    static const std::string path = StateFile(100000, 10000);
    return path;
}

std::string Request(const char *table) {
    return std::string("<tesselrequest><select><output><all/></output><from><db name=\"") + table +
           "\"/></from></select></tesselrequest>";
}

// One "invoke" of `request`: the response block (null: none) and its length;
// the block goes back with Free.
char *CallInvoke(const std::string &request, uint32_t &length) {
    char *response = nullptr;
    length = static_cast<uint32_t>(request.size());
    Plugin().Call(
        kVersion, kName, kDispatch, "invoke", reinterpret_cast<uintptr_t>(request.c_str()),
        reinterpret_cast<uintptr_t>(&response), 0, reinterpret_cast<uintptr_t>("127.0.0.1"), 0,
        reinterpret_cast<uintptr_t>(&length));
    return response;
}

void Free(char *response) {
    Plugin().Call(kVersion, kName, kDispatch, "free", reinterpret_cast<uintptr_t>(response));
}

std::string Invoke(const std::string &request) {
    uint32_t length = 0;
    char *response = CallInvoke(request, length);
    std::string text = response ? std::string(response, length) : std::string();
    Free(response);
    return text;
}

// "VmRSS" or "VmHWM" of this process, in bytes.
long Memory(const char *field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field) + 1) * 1024;
    return 0;
}

std::map<std::string, double> g_peakRatio;  // by "table/large" argument pair

// The table and state each benchmark argument names: 0 message log, 1 users;
// 0 small state, 1 large.
void Select(const benchmark::State &state, std::string &request, long &rows) {
    const bool users = state.range(0) == 1, large = state.range(1) == 1;
    ::setenv("NORLO_SERVER_STATE", (large ? LargeState() : SmallState()).c_str(), 1);
    request = Request(users ? "Norlo Server - Users" : "Norlo Server - Message Log");
    rows = (users ? 1000 : 10000) * (large ? 10 : 1);
}

// Invokes `request` once per iteration; each answer must be `size` bytes.
void TimeInvokes(benchmark::State &state, const std::string &request, std::size_t size) {
    for (auto _ : state) {
        uint32_t length = 0;
        char *response = CallInvoke(request, length);
        if (response == nullptr || length != size) state.SkipWithError("unexpected response");
        Free(response);
    }
}

void BM_Invoke(benchmark::State &state) {
    std::string request;
    long rows = 0;
    Select(state, request, rows);
    const std::size_t size = Invoke(request).size();  // loads the state
    // Peak above the resident size before one invoke, with the memory freed
    // by the one before given back first.
    malloc_trim(0);
    if (std::ofstream("/proc/self/clear_refs") << "5") {
        const long before = Memory("VmRSS:");
        Invoke(request);
        g_peakRatio[std::to_string(state.range(0)) + "/" + std::to_string(state.range(1))] =
            static_cast<double>(Memory("VmHWM:") - before) / size;
    }
    TimeInvokes(state, request, size);
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["response_bytes"] = static_cast<double>(size);
}

// The writing floor: the response's fixed parts and its rows' escaped values,
// prepared once, written out again per iteration.
void BM_FloorWrite(benchmark::State &state) {
    std::string request;
    long rows = 0;
    Select(state, request, rows);
    const std::string response = Invoke(request);
    const std::size_t begin = response.find("  <RECS>\n"), end = response.find("  </RECS>");
    std::vector<std::vector<std::string>> prepared;
    for (std::size_t at = response.find('\n', begin) + 1; at < end;) {
        const std::size_t eol = response.find('\n', at);
        const std::string line = response.substr(at, eol - at);
        if (line == "    <REC>") prepared.emplace_back();
        if (line.rfind("      <VAL>", 0) == 0)
            prepared.back().push_back(line.substr(11, line.size() - 17));
        at = eol + 1;
    }
    std::string written;
    for (auto _ : state) {
        written.clear();
        written.reserve(response.size());
        written.append(response, 0, begin + 9);
        for (const auto &row : prepared) {
            written += "    <REC>\n";
            for (const std::string &value : row)
                ((written += "      <VAL>") += value) += "</VAL>\n";
            written += "    </REC>\n";
        }
        written.append(response, end, std::string::npos);
        benchmark::DoNotOptimize(written.data());
    }
    if (written != response) state.SkipWithError("the floor wrote other bytes");
}

void Sizes(benchmark::internal::Benchmark *b) {
    b->ArgNames({"table", "large"})->Unit(benchmark::kMillisecond)->UseRealTime();
    for (int table : {0, 1})
        for (int large : {0, 1}) b->Args({table, large});
}
BENCHMARK(BM_Invoke)->Apply(Sizes);
BENCHMARK(BM_FloorWrite)->Apply(Sizes);

// The message log from 1,000 to 1,000,000 rows (no users), for the plot of
// invoke time against table size.
void BM_MessageLogRows(benchmark::State &state) {
    const std::string path = StateFile(static_cast<int>(state.range(0)), 0);
    ::setenv("NORLO_SERVER_STATE", path.c_str(), 1);
    const std::string request = Request("Norlo Server - Message Log");
    const std::size_t size = Invoke(request).size();  // loads the state
    TimeInvokes(state, request, size);
    std::remove(path.c_str());
    state.counters["rows"] = static_cast<double>(state.range(0));
    state.counters["response_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_MessageLogRows)
    ->ArgName("rows")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Arg(1000)
    ->Arg(3162)
    ->Arg(10000)
    ->Arg(31623)
    ->Arg(100000)
    ->Arg(316228)
    ->Arg(1000000);

// Keeps the best time of each run so that main can print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string name = run.benchmark_name();
            const double time = run.GetAdjustedRealTime();
            if (!times.count(name) || time < times[name]) times[name] = time;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char **argv) {
    // The trace log writes to standard error: send it to /dev/null.
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, STDERR_FILENO);
    ::unsetenv("PELLOG_FILE");
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char *table : {"0", "1"}) {
        const std::string name = std::string("table:") + table + "/large:";
        const auto time = [&](const char *what, const char *large) {
            const auto it =
                reporter.times.find(std::string(what) + "/" + name + large + "/real_time");
            return it == reporter.times.end() ? 0.0 : it->second;
        };
        const char *title = *table == '0' ? "message log" : "users";
        const double small = time("BM_Invoke", "0"), large = time("BM_Invoke", "1");
        if (small > 0 && large > 0)
            std::printf("%s: per-row cost at 10x rows / per-row cost = %.2f (target <= 1.2)\n",
                        title, large / small / 10);
        for (const char *size : {"0", "1"}) {
            const double floor = time("BM_FloorWrite", size);
            if (floor > 0)
                std::printf("%s, %s state: invoke / writing floor = %.2f (target <= 2)\n", title,
                            *size == '0' ? "small" : "large", time("BM_Invoke", size) / floor);
            const auto peak = g_peakRatio.find(std::string(table) + "/" + size);
            if (peak != g_peakRatio.end())
                std::printf(
                    "%s, %s state: peak memory above the loaded state / response size = "
                    "%.2f (target <= 3)\n",
                    title, *size == '0' ? "small" : "large", peak->second);
        }
    }
    for (const std::string &path : g_stateFiles) std::remove(path.c_str());
    benchmark::Shutdown();
    return 0;
}
