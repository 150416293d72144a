// Hostile and oversized request texts: no file or network access, no entity
// blow-up, bounded nesting; large well-formed requests still parse.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "support/table_helpers.h"

namespace {

using tabletest::Dump;
using tabletest::Parse;

// Parses `text`: 404, `secret` in no field, one fatal error line with `reason`.
void ExpectRefused(const std::string &text, const std::string &secret,
                   const std::string &reason = "DOCTYPE declarations are not accepted") {
    SCOPED_TRACE(text.substr(0, 200));
    tabletest::LogCapture log;
    int status = 0;
    const std::string fields = Dump(*Parse(text, false, &status));
    EXPECT_EQ(status, 404);
    EXPECT_EQ(fields.find(secret), std::string::npos) << fields;
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(log.Lines()[0].starts_with("ERROR: XercesInt::fatalError: line "))
        << log.Lines()[0];
    EXPECT_TRUE(log.Lines()[0].ends_with(" message " + reason)) << log.Lines()[0];
}

TEST(RequestAttacks, DoctypesAndExternalEntitiesReadNoFile) {
    const std::string secret = "NT-SECRET-CONTENT-4711";
    char name[] = "/tmp/nt-secret-XXXXXX";
    ::close(::mkstemp(name));
    const std::string path = name;
    std::ofstream(path) << "<!ENTITY leak SYSTEM \"file://" << path << "\">" << secret;
    const std::string body =
        "<tesselrequest version=\"&xxe;\"><sponsor>&xxe;</sponsor><db name=\"&xxe;\"/>"
        "</tesselrequest>";
    ExpectRefused(
        "<?xml version=\"1.0\"?>\n<!DOCTYPE tesselrequest [<!ENTITY xxe SYSTEM "
        "\"file://" +
            path + "\">]>\n" + body,
        secret);
    ExpectRefused("<!DOCTYPE tesselrequest [<!ENTITY xxe SYSTEM \"" + path + "\">]>" + body,
                  secret);
    ExpectRefused("<!DOCTYPE tesselrequest SYSTEM \"file://" + path + "\">" + body, secret);
    ExpectRefused("<!DOCTYPE r [<!ENTITY % ext SYSTEM \"file://" + path +
                      "\"> %ext;]><tesselrequest version=\"&leak;\"/>",
                  secret);
    std::remove(name);
}

TEST(RequestAttacks, SchemaLocationsAndDtdUrlsMakeNoConnection) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&addr), size), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &size);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

    int status = -1;
    const auto schema = Parse(
        "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:schemaLocation=\"" +
            url + "/a " + url +
            "/e.xsd\"><soap:Body><tesselrequest xsi:noNamespaceSchemaLocation=\"" + url +
            "/r.xsd\" xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"" + url +
            "/i.xml\"/><db name=\"T\"/></tesselrequest></soap:Body></soap:Envelope>",
        false, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Dump(*schema), "  envelope\n  table \"T\"\n");
    ExpectRefused("<!DOCTYPE tesselrequest SYSTEM \"" + url + "/r.dtd\"><tesselrequest/>", "?");
    ExpectRefused("<!DOCTYPE r PUBLIC \"-//X//Y//EN\" \"" + url + "/p.dtd\"><r/>", "?");
    ExpectRefused("<!DOCTYPE r [<!ENTITY e SYSTEM \"" + url + "/e.xml\">]><r>&e;</r>", "?");
    ExpectRefused("<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + url + "/p.dtd\"> %p;]><r/>", "?");
    pollfd waiting{listener, POLLIN, 0};
    EXPECT_EQ(::poll(&waiting, 1, 200), 0) << "a URL was fetched";
    ::close(listener);
}

TEST(RequestAttacks, BillionLaughsExpandsNothing) {
    std::string text = "<!DOCTYPE lolz [<!ENTITY lol0 \"lol\">";
    for (int i = 1; i <= 9; ++i) {
        text += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) text += "&lol" + std::to_string(i - 1) + ";";
        text += "\">";
    }
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    ExpectRefused(text + "]><tesselrequest version=\"&lol9;\">&lol9;</tesselrequest>", "lol");
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);
}

TEST(RequestAttacks, NestingIsBoundedAndLargeRequestsParse) {
    // The reader's cost grows with the square of the depth: 10,000 levels
    // parse, and the parse ends at the first level past them.
    std::string deep = "<tesselrequest version=\"v\">";
    for (int i = 0; i < 9998; ++i) deep += "<n>";
    deep += "<db name=\"Bottom\"/>";
    for (int i = 0; i < 9998; ++i) deep += "</n>";
    int status = -1;
    EXPECT_EQ(Dump(*Parse(deep + "</tesselrequest>", false, &status)),
              "  portalVersion \"v\"\n  table \"Bottom\"\n");
    EXPECT_EQ(status, 0);
    std::string runaway = "<tesselrequest>";
    for (int i = 0; i < 10000; ++i) runaway += "<n>";
    ExpectRefused(runaway, "?", "elements nested deeper than 10000 levels");

    // An attribute just short of the 1 MiB bound, a sponsor name of 4,000
    // bytes, 5,000 predicates.
    const std::string megabyte((1 << 20) - 64, 'v');
    std::string wide, many;
    for (int i = 0; i < 2000; ++i)
        wide += i % 3 == 0 ? "\xE6\x97\xA5" : i % 3 == 1 ? "\xC3\xA4" : "z";
    for (int i = 0; i < 5000; ++i)
        many += "<predicat><target name=\"c" + std::to_string(i) + "\"/></predicat>";
    const auto large =
        Parse("<tesselrequest><sponsor>" + wide + "</sponsor><filter col=\"c\" val=\"" + megabyte +
              "\"/>" + many + "</tesselrequest>");
    EXPECT_EQ(large->m_sponsorName.str(), wide);
    ASSERT_EQ(large->m_predicates.size(), 5001u);
    EXPECT_EQ(large->m_predicates[0].atom.str(), megabyte);
    EXPECT_EQ(large->m_predicates[5000].target.str(), "c4999");
}

}  // namespace
