// Hostile request texts make no network access (file entities and entity
// blow-ups: tests/data/request).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "support/table_helpers.h"

namespace {

using tabletest::Dump;
using tabletest::Parse;

// Parses `text`: 404 and one fatal error line, refusing its DOCTYPE.
void ExpectRefused(const std::string &text) {
    SCOPED_TRACE(text);
    tabletest::LogCapture log;
    int status = 0;
    Parse(text, false, &status);
    EXPECT_EQ(status, 404);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(log.Lines()[0].starts_with("ERROR: XercesInt::fatalError: line "));
    EXPECT_TRUE(log.Lines()[0].ends_with(" message DOCTYPE declarations are not accepted"));
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
    ExpectRefused("<!DOCTYPE tesselrequest SYSTEM \"" + url + "/r.dtd\"><tesselrequest/>");
    ExpectRefused("<!DOCTYPE r PUBLIC \"-//X//Y//EN\" \"" + url + "/p.dtd\"><r/>");
    ExpectRefused("<!DOCTYPE r [<!ENTITY e SYSTEM \"" + url + "/e.xml\">]><r>&e;</r>");
    ExpectRefused("<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + url + "/p.dtd\"> %p;]><r/>");
    pollfd waiting{listener, POLLIN, 0};
    EXPECT_EQ(::poll(&waiting, 1, 200), 0) << "a URL was fetched";
    ::close(listener);
}

}  // namespace
