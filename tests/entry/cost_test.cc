// What one request may cost: each hostile shape at its limit and just past it,
// through Dorvex, with the peak memory of the invoke measured (not its time);
// plus how the reader treats end tags inside output.
#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "support/harness.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryMeasured = false;  // the sanitizers keep freed memory resident
#else
constexpr bool kMemoryMeasured = true;
#endif

long StatusKb(const std::string &field) {
    std::ifstream status("/proc/self/status");
    for (std::string word; status >> word;)
        if (word == field && status >> word) return std::stol(word);
    return -1;
}

// Resident memory the invoke added at its peak, in KiB (0 if it cannot be told).
long PeakKb(nt::Host &host, const std::string &request, nt::Reply &reply) {
    const long before = StatusKb("VmRSS:");
    const int fd = ::open("/proc/self/clear_refs", O_WRONLY);
    const bool reset = fd >= 0 && ::write(fd, "5", 1) == 1;  // high-water mark := now
    if (fd >= 0) ::close(fd);
    reply = host.Invoke(request);
    return reset ? StatusKb("VmHWM:") - before : 0;
}

std::string Repeat(const std::string &unit, std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text += unit;
    return text;
}

std::string Request(const std::string &where, const std::string &sponsor = "S",
                    const std::string &output = "<all/>", const char *table = "Sample Age Detail") {
    return nt::Select(table, where, output, sponsor);
}

std::string Predicat(long long l = 0, long long r = 0, const char *logic = "") {
    return std::string(*logic ? "<logic oper=\"" : "") + logic + (*logic ? "\"/>" : "") +
           "<predicat lparen=\"" + std::to_string(l) + "\" rparen=\"" + std::to_string(r) +
           "\"><target name=\"Name\"/><compare oper=\"LIKE\"><atom value=\"D*\"/></compare>"
           "</predicat>";
}

// n predicates with parenthesis counts 0 to 3 from a fixed pseudo-random sequence.
std::string RandomGrouping(std::size_t n) {
    std::string where;
    unsigned state = 12345;
    const auto next = [&state] { return ((state = state * 1103515245u + 12345u) >> 16) % 4; };
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned l = next();
        where += Predicat(l, next(), i == 0 ? "" : i % 3 == 1 ? "OR" : "AND");
    }
    return Request(where);
}

std::string Attributes(std::size_t n) {
    std::string tag = "<all";
    for (std::size_t i = 0; i < n; ++i) tag += " a" + std::to_string(i) + "=\"\"";
    return Request("", "S", tag + "/>");
}

std::string Declarations(std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text += " xmlns:p" + std::to_string(i) + "=\"u\"";
    return text;
}

std::string Filter(const std::string &column, const std::string &value) {
    return Request("<filter col=\"" + column + "\" oper=\"LIKE\" val=\"" + value + "\"/>");
}

TEST(Requests, EachShapeWithinItsBoundAtAndPastItsLimit) {
    const std::string d = "'Name' LIKE 'D*'", quotes(65536, '"'), rows = "<VAL>Dalkah</VAL>";
    const std::string nest = Repeat("<n>", 9996) + Repeat("</n>", 9996);
    const struct {
        const char *shape;
        std::string request;
        std::string logLine;              // "": no error logged; else a line the log holds
        std::string inResponse, filters;  // "": not checked
    } cases[] = {
        {"paren counts of 2^31 - 1", Request(Predicat(2147483647) + Predicat(0, 2147483647, "AND")),
         "", "", "(x2147483647 " + d + " AND " + d + " )x2147483647"},
        {"negative paren counts", Request(Predicat(-2147483648LL, -1)), "", "", d},
        {"64 parens written out, 65 summed up", Request(Predicat(64, 65) + Predicat(65, 64, "AND")),
         "", "", Repeat("( ", 64) + d + " )x65 AND (x65 " + d + Repeat(" )", 64)},
        {"column name of 1500 bytes", Filter(std::string(1500, 'c'), "D*"), "", "",
         " AND '" + std::string(1023, 'c') + "' LIKE 'D*'"},
        {"20000 predicates", Request(Repeat(Predicat(), 20000)), "", rows, ""},
        {"20001 predicates", Request(Repeat(Predicat(), 20001)),
         "message more than 20000 predicates\n", "", ""},
        {"5000 predicates grouped at random", RandomGrouping(5000), "", "", ""},
        {"20000 predicates grouped at random", RandomGrouping(20000),
         "ERROR: [tid] tslData::AddRecord: where-clause too complex\n",
         "<DESC>tslData: where-clause too complex</DESC>", ""},
        {"10000 levels", Request("", "S", Repeat("<n>", 9996) + "<all/>" + Repeat("</n>", 9996)),
         "", rows, ""},
        {"10001 levels", Request("", "S", Repeat("<n>", 9997) + "<all/>" + Repeat("</n>", 9997)),
         "message elements nested deeper than 10000 levels\n", "", ""},
        {"two nests of 10000 levels", Request("", "S", Repeat(nest, 2) + "<all/>"), "", rows, ""},
        {"three nests of 10000 levels", Request("", "S", Repeat(nest, 3) + "<all/>"),
         "message nesting and prefixes costing more than 100000000 namespace lookups\n", "", ""},
        {"1000 namespaces", Request("", "S", "<all" + Declarations(1000) + "/>"), "", rows, ""},
        {"1001 namespaces", Request("", "S", "<all" + Declarations(1001) + "/>"),
         "message more than 1000 namespace declarations in scope\n", "", ""},
        {"10000 attributes", Attributes(10000), "", rows, ""},
        {"10001 attributes", Attributes(10001),
         "ERROR: [tid] XercesInt::fatalError: line 1 column 52 message a start tag with more than "
         "10000 attributes\n",
         "", ""},
        {"sponsor of 4096 bytes", Request("", std::string(4096, 's'), "<all/>", "Sample Age"), "",
         std::string(4096, 's'), ""},
        {"sponsor of 4097 bytes", Request("", std::string(4097, 's'), "<all/>", "Sample Age"),
         "message a sponsor or portal field longer than 4096 bytes\n", "", ""},
        {"1 MiB from tag to tag", Filter("Name", std::string((1 << 20) - 39, 'v')), "", "",
         " AND 'Name' LIKE 'Large value: 1048537 bytes'"},
        {"1 MiB and a byte", Filter("Name", std::string((1 << 20) - 38, 'v')),
         "message a value or text longer than 1048576 bytes\n", "", ""},
        {"65536 quotes repaired", Filter("Name", quotes), "", "<RECS>",
         " AND 'Name' LIKE 'Large value: 65536 bytes'"},
        {"65537 quotes", Filter("Name", quotes + '"'), "error parsing xml [", "", ""},
        {"10000 output columns",
         Request("", "S", "<col/>" + Repeat("<target name=\"Age\"/>", 10000)), "",
         "<COL NAME=\"Age\"", ""},
        {"10001 output columns",
         Request("", "S", "<col/>" + Repeat("<target name=\"Age\"/>", 10001)),
         "message more than 10000 output columns\n", "", ""},
        // Inside output only start tags are narrowed; end tags act as anywhere.
        {"sponsor closed inside output",
         "<tesselrequest><sponsor>A</sponsor><admin action=\"describe\"/><output><sponsor>B"
         "</sponsor></output></tesselrequest>",
         "", "<SPONSOR_NAME>B</SPONSOR_NAME>", ""},
        {"predicat closed inside output, before a filter",
         Request("<predicat><target name=\"Name\"/><compare oper=\"LIKE\"><atom value=\"D*\"/>"
                 "</compare><output><predicat/></output><filter col=\"Age\" oper=\"LESS\" "
                 "val=\"9\"/></predicat>"),
         "", "", d + " AND 'Age' LESS '9'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shape);
        nt::Host host;
        ASSERT_EQ(host.Initialize(), 0);
        host.TakeLog();
        nt::Reply reply;
        const long peakKb = PeakKb(host, c.request, reply);
        if (kMemoryMeasured) {
            EXPECT_LE(peakKb, 64 * 1024 + 16 * static_cast<long>(c.request.size() / 1024));
        }
        EXPECT_EQ(reply.result, 0);
        const std::string log = host.TakeLog();
        EXPECT_EQ(log.find(c.logLine.empty() ? "ERROR: " : c.logLine) != std::string::npos,
                  !c.logLine.empty())
            << log.substr(0, 300);
        EXPECT_NE(reply.response.find(c.inResponse), std::string::npos)
            << reply.response.substr(0, 400);
        if (c.filters.empty()) continue;
        const std::vector<std::string> events = host.TakeEvents();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(nt::Field(nt::EventFields(events[0]), "Filters"), "s:" + c.filters);
    }
}

}  // namespace
