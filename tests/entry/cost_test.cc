// What one request may cost: each hostile shape at its limit and just past it,
// through Dorvex, with the peak memory of the invoke measured (not its time).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/harness.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryMeasured = false;  // the sanitizers keep freed memory resident
#else
constexpr bool kMemoryMeasured = true;
#endif

long StatusKb(const char *field) {
    std::FILE *status = std::fopen("/proc/self/status", "r");
    char line[256];
    long value = -1;
    while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr)
        if (std::strncmp(line, field, std::strlen(field)) == 0)
            value = std::atol(line + std::strlen(field));
    if (status != nullptr) std::fclose(status);
    return value;
}

// Resident memory the invoke added at its peak, in KiB.
long PeakKb(nt::Host &host, const std::string &request, nt::Reply &reply) {
    const long before = StatusKb("VmRSS:");
    const int fd = ::open("/proc/self/clear_refs", O_WRONLY);
    const bool reset = fd >= 0 && ::write(fd, "5", 1) == 1;  // high-water mark := now
    if (fd >= 0) ::close(fd);
    reply = host.Invoke(request);
    return reset ? StatusKb("VmHWM:") - before : 0;
}

std::string Filters(const std::string &event) {
    for (const auto &[key, value] : nt::EventFields(event))
        if (key == "Filters") return value;
    return "<absent>";
}

std::string Repeat(const std::string &unit, std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text += unit;
    return text;
}

std::string Request(const std::string &where, const std::string &sponsor = "S",
                    const std::string &output = "<all/>",
                    const std::string &table = "Sample Age Detail") {
    return "<tesselrequest><sponsor>" + sponsor + "</sponsor><select><output>" + output +
           "</output><from><db name=\"" + table + "\"/></from><where>" + where +
           "</where></select></tesselrequest>";
}

std::string Predicat(const std::string &parens, int logic = 0) {
    return std::string(logic == 0   ? ""
                       : logic == 1 ? "<logic oper=\"AND\"/>"
                                    : "<logic oper=\"OR\"/>") +
           "<predicat" + parens +
           "><target name=\"Name\"/><compare oper=\"LIKE\"><atom "
           "value=\"D*\"/></compare></predicat>";
}

std::string Parens(long long l, long long r) {
    return " lparen=\"" + std::to_string(l) + "\" rparen=\"" + std::to_string(r) + "\"";
}

// n predicates with parenthesis counts from a fixed pseudo-random sequence.
std::string RandomGrouping(std::size_t n) {
    std::string where;
    unsigned state = 12345;
    for (std::size_t i = 0; i < n; ++i) {
        state = state * 1103515245u + 12345u;
        const unsigned l = (state >> 16) % 4;
        state = state * 1103515245u + 12345u;
        where += Predicat(Parens(l, (state >> 16) % 4), i == 0 ? 0 : i % 3 == 1 ? 2 : 1);
    }
    return Request(where);
}

std::string Nested(std::size_t levels) {
    return Request("", "S", Repeat("<n>", levels) + "<all/>" + Repeat("</n>", levels));
}

std::string QuotedAtom(std::size_t quotes) {
    return Request("<filter col=\"Name\" oper=\"EQUAL\" val=\"" + std::string(quotes, '"') +
                   "\"/>");
}

std::string Attributes(std::size_t n) {
    std::string tag = "<all";
    for (std::size_t i = 0; i < n; ++i) tag += " a" + std::to_string(i) + "=\"\"";
    return Request("", "S", tag + "/>");
}

TEST(Cost, EachShapeWithinItsBoundAtAndPastItsLimit) {
    const std::string d = "'Name' LIKE 'D*'";
    const struct {
        const char *shape;
        std::string request;
        std::string logLine;              // "" : no refusal; else a line the log must hold
        std::string inResponse, filters;  // "": not checked
    } cases[] = {
        {"paren counts of 2^31 - 1",
         Request(Predicat(Parens(2147483647, 0)) + Predicat(Parens(0, 2147483647), 1)), "", "",
         "(x2147483647 " + d + " AND " + d + " )x2147483647"},
        {"negative paren counts", Request(Predicat(Parens(-2147483648LL, -1))), "", "", d},
        {"64 parens written out, 65 summed up",
         Request(Predicat(Parens(64, 65)) + Predicat(Parens(65, 64), 1)), "", "",
         Repeat("( ", 64) + d + " )x65 AND (x65 " + d + Repeat(" )", 64)},
        {"column name of 1500 bytes",
         Request("<filter col=\"" + std::string(1500, 'c') + "\" oper=\"LIKE\" val=\"D*\"/>"), "",
         "", " AND '" + std::string(1023, 'c') + "' LIKE 'D*'"},
        {"20000 predicates", Request(Repeat(Predicat(""), 20000)), "", "<VAL>Dalkah</VAL>", ""},
        {"20001 predicates", Request(Repeat(Predicat(""), 20001)),
         "message more than 20000 predicates\n", "", ""},
        {"5000 predicates grouped at random", RandomGrouping(5000), "", "", ""},
        {"20000 predicates grouped at random", RandomGrouping(20000),
         "ERROR: [tid] tslData::AddRecord: where-clause too complex\n",
         "<DESC>tslData: where-clause too complex</DESC>", ""},
        {"10000 levels", Nested(9996), "", "<VAL>Dalkah</VAL>", ""},
        {"10001 levels", Nested(9997), "message elements nested deeper than 10000 levels\n", "",
         ""},
        {"10000 attributes", Attributes(10000), "", "<VAL>Dalkah</VAL>", ""},
        {"10001 attributes", Attributes(10001),
         "ERROR: [tid] XercesInt::fatalError: line 1 column 52 message a start tag with more than "
         "10000 attributes\n",
         "", ""},
        {"sponsor of 4096 bytes", Request("", std::string(4096, 's'), "<all/>", "Sample Age"), "",
         std::string(4096, 's'), ""},
        {"sponsor of 4097 bytes", Request("", std::string(4097, 's'), "<all/>", "Sample Age"),
         "message a sponsor or portal field longer than 4096 bytes\n", "", ""},
        {"65536 quotes repaired", QuotedAtom(65536), "", "<RECS>",
         " AND 'Name' EQUAL 'Large value: 65536 bytes'"},
        {"65537 quotes", QuotedAtom(65537), "error parsing xml [", "", ""},
        {"10000 output columns",
         Request("", "S", "<col/>" + Repeat("<target name=\"Age\"/>", 10000)), "",
         "<COL NAME=\"Age\"", ""},
        {"10001 output columns",
         Request("", "S", "<col/>" + Repeat("<target name=\"Age\"/>", 10001)),
         "message more than 10000 output columns\n", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shape);
        nt::Host host;
        ASSERT_EQ(host.Initialize(), 0);
        host.TakeLog();
        nt::Reply reply;
        const long peakKb = PeakKb(host, c.request, reply);
        const long boundKb = 64 * 1024 + 16 * static_cast<long>(c.request.size() / 1024);
        if (kMemoryMeasured) {
            EXPECT_LE(peakKb, boundKb);
        }
        EXPECT_EQ(reply.result, 0);
        const std::string log = host.TakeLog();
        if (c.logLine.empty()) {
            EXPECT_EQ(log.find("ERROR: "), std::string::npos) << log.substr(0, 300);
        } else {
            EXPECT_NE(log.find(c.logLine), std::string::npos) << log.substr(0, 300);
        }
        EXPECT_NE(reply.response.find(c.inResponse), std::string::npos)
            << reply.response.substr(0, 400);
        if (!c.filters.empty()) {
            const std::vector<std::string> events = host.TakeEvents();
            ASSERT_EQ(events.size(), 1u);
            EXPECT_EQ(Filters(events[0]), "s:" + c.filters);
        }
    }
}

// Inside output only start tags are narrowed: end tags act as anywhere else.
TEST(RequestReader, EndTagsInsideOutputActAsAnywhere) {
    nt::Host host;
    ASSERT_EQ(host.Initialize(), 0);
    nt::Reply reply = host.Invoke(
        "<tesselrequest><sponsor>A</sponsor><admin action=\"describe\"/><output><sponsor>B"
        "</sponsor></output></tesselrequest>");
    EXPECT_NE(reply.response.find("<SPONSOR_NAME>B</SPONSOR_NAME>"), std::string::npos)
        << reply.response;
    // The predicat closed inside output is listed before the filter that follows it.
    reply = host.Invoke(Request(
        "<predicat><target name=\"Name\"/><compare oper=\"LIKE\"><atom value=\"D*\"/></compare>"
        "<output><predicat/></output><filter col=\"Age\" oper=\"LESS\" val=\"9\"/></predicat>"));
    const std::vector<std::string> events = host.TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(Filters(events[0]), "s:'Name' LIKE 'D*' AND 'Age' LESS '9'");
}

}  // namespace
