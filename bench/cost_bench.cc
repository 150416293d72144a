// The worst cost of one request of each hostile shape, through Dorvex.
//
// Every request runs in a child process of its own, so that its peak memory
// can be read apart from everything else: the child builds the request, notes
// its resident size, resets the high-water mark, invokes once and reports CPU
// time and the peak above the mark. A child is held to 4 GiB of address space
// and 60 s of CPU, so a runaway shape ends as "killed" instead of taking the
// machine with it.
//
//   cost_bench                  every shape at its largest size
//   cost_bench SHAPE [COUNT]    one shape, COUNT units of it (elements, levels...)
// NT_COST_PLUGIN=path loads another build of the plug-in.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "plugin_loader.h"

namespace {

constexpr std::size_t kMaxRequest = 16u << 20;
const char kVersion[] = "V02.000.02";

int32_t QuietHost(const char *, const char *operation, ...) {
    return std::strcmp(operation, "SendEvent") == 0 ? 1 : -1;
}

std::string Request(const std::string &table, const std::string &where,
                    const std::string &sponsor = "bench", const std::string &output = "<all/>") {
    return "<?xml version=\"1.0\"?><tesselrequest version=\"2.0\" transactionid=\"t\">"
           "<sponsor version=\"2.0\">" +
           sponsor + "</sponsor><select><output>" + output + "</output><from><db name=\"" + table +
           "\"/></from><where>" + where + "</where></select></tesselrequest>";
}

std::string Predicat(long long lparen, long long rparen, int logic = 0) {
    std::string text;
    if (logic != 0) text += logic == 1 ? "<logic oper=\"AND\"/>" : "<logic oper=\"OR\"/>";
    text += "<predicat lparen=\"" + std::to_string(lparen) + "\" rparen=\"" +
            std::to_string(rparen) +
            "\"><compare oper=\"LIKE\"><target name=\"Name\"/><atom value=\"D*\"/></compare>"
            "</predicat>";
    return text;
}

// Predicates whose parenthesis counts follow `counts(i, n)`.
std::string Bracketed(std::size_t n,
                      const std::function<std::pair<long, long>(long, long)> &counts) {
    std::string where;
    for (std::size_t i = 0; i < n; ++i) {
        const auto [l, r] = counts(static_cast<long>(i), static_cast<long>(n));
        where += Predicat(l, r, i == 0 ? 0 : (i % 3 == 1 ? 2 : 1));
    }
    return Request("Sample Age Detail", where);
}

std::string Repeat(const std::string &unit, std::size_t n) {
    std::string text;
    text.reserve(unit.size() * n);
    for (std::size_t i = 0; i < n; ++i) text += unit;
    return text;
}

struct Shape {
    const char *name;
    std::size_t count;  // the largest count tried by default
    std::function<std::string(std::size_t)> make;
};

const std::vector<Shape> &Shapes() {
    static const std::vector<Shape> shapes = {
        {"paren-max-pair", 2,
         [](std::size_t) {
             return Request("Sample Age Detail",
                            Predicat(2147483647, 0) + Predicat(0, 2147483647, 1));
         }},
        {"paren-max-each", 100000,
         [](std::size_t n) {
             return Bracketed(n, [](long, long) { return std::pair{2147483647L, 2147483647L}; });
         }},
        {"paren-negative", 100000,
         [](std::size_t n) {
             return Bracketed(n, [](long i, long) {
                 return i % 2 ? std::pair{-2147483648L, 2147483647L}
                              : std::pair{2147483647L, -2147483648L};
             });
         }},
        {"predicates-flat", 100000,
         [](std::size_t n) { return Bracketed(n, [](long, long) {
                                 return std::pair{0L, 0L};
                             }); }},
        {"predicates-each-grouped", 100000,
         [](std::size_t n) { return Bracketed(n, [](long, long) {
                                 return std::pair{1L, 1L};
                             }); }},
        {"predicates-staircase", 100000,
         [](std::size_t n) {
             return Bracketed(n, [](long i, long n) { return std::pair{1L, i == n - 1 ? n : 0L}; });
         }},
        {"predicates-open-first", 100000,
         [](std::size_t n) {
             return Bracketed(n, [](long i, long n) { return std::pair{i == 0 ? n : 0L, 1L}; });
         }},
        {"predicates-rising", 100000,
         [](std::size_t n) { return Bracketed(n, [](long i, long) {
                                 return std::pair{i, 0L};
                             }); }},
        {"predicates-falling", 100000,
         [](std::size_t n) {
             return Bracketed(n, [](long i, long n) { return std::pair{n - i, 0L}; });
         }},
        {"predicates-sawtooth", 100000,
         [](std::size_t n) {
             return Bracketed(n, [](long i, long) {
                 return i % 2 ? std::pair{0L, 1L} : std::pair{2L, 0L};
             });
         }},
        {"predicates-random", 100000,
         [](std::size_t n) {
             unsigned state = 12345;
             return Bracketed(n, [&state](long, long) {
                 state = state * 1103515245u + 12345u;
                 const long l = (state >> 16) % 4;
                 state = state * 1103515245u + 12345u;
                 return std::pair{l, static_cast<long>((state >> 16) % 4)};
             });
         }},
        {"filters-flat", 200000,
         [](std::size_t n) {
             return Request("Sample Age Detail",
                            Repeat("<filter logic=\"OR\" lparens=\"1\" col=\"Name\" oper=\"LIKE\" "
                                   "val=\"D*\" rparens=\"1\"/>",
                                   n));
         }},
        {"nesting", 65535,
         [](std::size_t n) { return Request("Sample Age", Repeat("<n>", n) + Repeat("</n>", n)); }},
        {"nesting-namespaces", 20000,
         [](std::size_t n) {
             std::string open, close;
             for (std::size_t i = 0; i < n; ++i) {
                 open += "<p" + std::to_string(i) + ":n xmlns:p" + std::to_string(i) + "=\"u\">";
             }
             for (std::size_t i = n; i-- > 0;) close += "</p" + std::to_string(i) + ":n>";
             return Request("Sample Age", open + close);
         }},
        {"attributes", 400000,
         [](std::size_t n) {
             std::string e = "<e";
             for (std::size_t i = 0; i < n; ++i) e += " a" + std::to_string(i) + "=\"\"";
             return Request("Sample Age", e + "/>");
         }},
        {"attributes-prefixed", 200000,
         [](std::size_t n) {
             std::string e = "<e";
             for (std::size_t i = 0; i < n; ++i)
                 e += " xmlns:p" + std::to_string(i) + "=\"u" + std::to_string(i) + "\"";
             for (std::size_t i = 0; i < n; ++i) e += " p" + std::to_string(i) + ":a=\"\"";
             return Request("Sample Age", e + "/>");
         }},
        {"long-name", kMaxRequest - 400,
         [](std::size_t n) {
             // Appended piece by piece: g++ 12 at -O3 warns about the operator+
             // form (a false -Wrestrict).
             std::string tag = "<";
             tag.append(n, 'n').append("/>");
             return Request("Sample Age", tag);
         }},
        {"long-value", kMaxRequest - 400,
         [](std::size_t n) {
             return Request("Sample Age Detail", "<filter col=\"Name\" oper=\"LIKE\" val=\"" +
                                                     std::string(n, 'v') + "\"/>");
         }},
        {"values-1mib", 15,
         [](std::size_t n) {
             return Request("Sample Age Detail",
                            Repeat("<filter col=\"Name\" oper=\"LIKE\" val=\"" +
                                       std::string((1u << 20) - 64, 'v') + "\"/>",
                                   n));
         }},
        {"long-target", kMaxRequest - 400,
         [](std::size_t n) {
             return Request("Sample Age Detail", "<filter col=\"" + std::string(n, '%') +
                                                     "\" oper=\"LIKE\" val=\"D*\"/>");
         }},
        {"long-table", kMaxRequest - 400,
         [](std::size_t n) { return Request(std::string(n, 't'), ""); }},
        {"long-sponsor-links", kMaxRequest - 400,
         [](std::size_t n) { return Request("Sample Age", "", std::string(n, 's')); }},
        {"sponsor-escapes-links", (kMaxRequest - 400) / 5,
         [](std::size_t n) { return Request("Sample Age", "", Repeat("&amp;", n)); }},
        {"sponsor-define", kMaxRequest - 400,
         [](std::size_t n) { return Request("Define", "", std::string(n, 's')); }},
        {"escapes-backslash", (kMaxRequest - 400) / 2,
         [](std::size_t n) {
             return Request("Sample Age Detail", "<filter col=\"Name\" oper=\"LIKE\" val=\"" +
                                                     Repeat("\\n", n) + "\"/>");
         }},
        {"escapes-entities", (kMaxRequest - 400) / 6,
         [](std::size_t n) {
             return Request("Sample Age Detail", "<filter col=\"Name\" oper=\"LIKE\" val=\"" +
                                                     Repeat("&#x41;", n) + "\"/>");
         }},
        {"quotes", kMaxRequest - 400,
         [](std::size_t n) {
             return Request("Sample Age Detail", "<filter col=\"Name\" oper=\"LIKE\" val=\"" +
                                                     std::string(n, '"') + "\"/>");
         }},
        {"output-targets", 400000,
         [](std::size_t n) {
             return Request("Sample Age Detail", "", "bench",
                            "<col/>" + Repeat("<target name=\"Name\"/>", n));
         }},
        // Right at the limits, repeated to fill 16 MiB.
        {"nests-at-limit", 230,
         [](std::size_t n) {
             return Request("Sample Age", Repeat(Repeat("<n>", 9990) + Repeat("</n>", 9990), n));
         }},
        {"attributes-at-limit", 180,
         [](std::size_t n) {
             std::string e = "<e";
             for (std::size_t i = 0; i < 10000; ++i) e += " a" + std::to_string(i) + "=\"\"";
             return Request("Sample Age", Repeat(e + "/>", n));
         }},
        {"prefixed-at-limit", 100,
         [](std::size_t n) {
             std::string e = "<e";
             for (std::size_t i = 0; i < 5000; ++i)
                 e += " xmlns:p" + std::to_string(i) + "=\"u" + std::to_string(i) + "\"";
             for (std::size_t i = 0; i < 5000; ++i) e += " p" + std::to_string(i) + ":a=\"\"";
             return Request("Sample Age", Repeat(e + "/>", n));
         }},
        {"garbage", kMaxRequest, [](std::size_t n) { return std::string(n, '<'); }},
    };
    return shapes;
}

long ReadStatusKb(const char *field) {
    std::FILE *status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long value = -1;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::strncmp(line, field, length) == 0) value = std::atol(line + length + 1);
    std::fclose(status);
    return value;
}

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Cost {
    std::size_t bytes = 0;
    double cpu = 0;
    long peakKb = 0;
    int32_t result = 0;
    uint32_t responseBytes = 0;
};

[[noreturn]] void RunChild(const Shape &shape, std::size_t count, int out) {
    rlimit as{4ul << 30, 4ul << 30}, cpu{60, 60};
    ::setrlimit(RLIMIT_AS, &as);
    ::setrlimit(RLIMIT_CPU, &cpu);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDERR_FILENO);
    PluginLoader plugin;
    const char *path = std::getenv("NT_COST_PLUGIN");  // another build to compare with
    if (!plugin.Load(path != nullptr ? path : NT_PLUGIN_PATH)) ::_exit(2);
    plugin.Call(kVersion, "NorloTessel", "Dorvex", "initialize",
                reinterpret_cast<uintptr_t>(&QuietHost), reinterpret_cast<uintptr_t>(""));
    Cost cost;
    // NT_COST_WARM=1: one invoke of the same request first, as a serving
    // process has already grown its heap.
    for (int round = std::getenv("NT_COST_WARM") != nullptr ? 2 : 1; round > 0; --round) {
        const std::string request = shape.make(count);
        cost.bytes = request.size();
        // Free heap kept by the allocator counts as resident; start level.
        const long before = ReadStatusKb("VmRSS:");
        if (int fd = ::open("/proc/self/clear_refs", O_WRONLY); fd >= 0) {
            (void)!::write(fd, "5", 1);  // resets the high-water mark to the current size
            ::close(fd);
        }
        const double start = CpuSeconds();
        char *response = nullptr;
        uint32_t length = static_cast<uint32_t>(request.size());
        cost.result = plugin.Call(
            kVersion, "NorloTessel", "Dorvex", "invoke",
            reinterpret_cast<uintptr_t>(request.c_str()), reinterpret_cast<uintptr_t>(&response), 0,
            reinterpret_cast<uintptr_t>("127.0.0.1"), 0, reinterpret_cast<uintptr_t>(&length));
        cost.cpu = CpuSeconds() - start;
        cost.peakKb = ReadStatusKb("VmHWM:") - before;
        cost.responseBytes = response != nullptr ? length : 0;
        if (response != nullptr)
            plugin.Call(kVersion, "NorloTessel", "Dorvex", "free",
                        reinterpret_cast<uintptr_t>(response));
    }
    (void)!::write(out, &cost, sizeof cost);
    ::_exit(0);
}

void Measure(const Shape &shape, std::size_t count) {
    int pipe[2];
    if (::pipe(pipe) != 0) return;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        RunChild(shape, count, pipe[1]);
    }
    ::close(pipe[1]);
    Cost cost;
    const bool got = ::read(pipe[0], &cost, sizeof cost) == static_cast<ssize_t>(sizeof cost);
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!got) {
        std::printf("%-24s %9zu  killed (%s)\n", shape.name, count,
                    WIFSIGNALED(status) ? strsignal(WTERMSIG(status)) : "no report");
        return;
    }
    const double bound = 64.0 + 16.0 * static_cast<double>(cost.bytes) / (1 << 20);
    std::printf("%-24s %9zu %10zu %8.3f %9.1f %9.1f %6d %10u%s\n", shape.name, count, cost.bytes,
                cost.cpu, static_cast<double>(cost.peakKb) / 1024, bound, cost.result,
                cost.responseBytes,
                cost.cpu > 1.0 || static_cast<double>(cost.peakKb) / 1024 > bound ? "  OVER" : "");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
    std::printf("%-24s %9s %10s %8s %9s %9s %6s %10s\n", "shape", "count", "bytes", "cpu s",
                "peak MiB", "bound MiB", "result", "response");
    for (const Shape &shape : Shapes()) {
        if (argc > 1 && std::strcmp(argv[1], shape.name) != 0) continue;
        const std::size_t count =
            argc > 2 ? static_cast<std::size_t>(std::strtoull(argv[2], nullptr, 10)) : shape.count;
        Measure(shape, count);
    }
    return 0;
}
