// Hostile and oversized request texts: no file or network access, no entity
// blow-up, no crash; large well-formed requests still parse.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "parse_helpers.h"

namespace {

using reqtest::Envelope;
using reqtest::Messages;
using reqtest::ParseText;

// Every text field of the request record, for "did X get in anywhere" checks.
std::string AllFields(const tslData &d) {
    std::string all;
    for (const tslString *s : {&d.m_portalVersion, &d.m_credentials, &d.m_transactionId,
                               &d.m_signature, &d.m_certificate, &d.m_sponsorVersion,
                               &d.m_sponsorName, &d.m_portalLocation, &d.m_table}) {
        all += s->str();
        all += '|';
    }
    for (const tslString &t : d.m_outputTargets) all += t.str() + '|';
    for (const Predicate &p : d.m_predicates) all += p.target.str() + '|' + p.atom.str() + '|';
    return all;
}

// A loopback listener that records whether anyone connected.
class Listener {
  public:
    Listener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
            ::listen(m_fd, 8) != 0)
            return;
        socklen_t len = sizeof addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&addr), &len);
        m_port = ntohs(addr.sin_port);
    }
    ~Listener() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    int Port() const { return m_port; }
    // True when a connection is waiting (polled briefly, never blocking).
    bool SawConnection() const {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) return false;
        const int client = ::accept(m_fd, nullptr, nullptr);
        if (client < 0) return false;
        ::close(client);
        return true;
    }

  private:
    int m_fd = -1;
    int m_port = 0;
};

long MaxRssKb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class TempFile {
  public:
    explicit TempFile(const std::string &content) {
        char path[] = "/tmp/nt-secret-XXXXXX";
        const int fd = ::mkstemp(path);
        if (fd >= 0) {
            const ssize_t written = ::write(fd, content.data(), content.size());
            (void)written;
            ::close(fd);
        }
        m_path = path;
    }
    ~TempFile() { std::remove(m_path.c_str()); }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    const std::string &Path() const { return m_path; }

  private:
    std::string m_path;
};

TEST(RequestAttacks, ExternalEntityOnALocalFileNeverReadsIt) {
    const std::string secret = "NT-SECRET-CONTENT-4711";
    TempFile file(secret);
    TempFile dtd("<!ENTITY leak SYSTEM \"file://" + file.Path() + "\">\n<!ENTITY inline \"" +
                 secret + "\">");
    const std::string body =
        "<tesselrequest version=\"&xxe;\" transactionid=\"&xxe;\">"
        "<sponsor version=\"1\">&xxe;</sponsor><portal location=\"&xxe;\"/>"
        "<select><from><db name=\"&xxe;\"/></from><where><predicat><target name=\"&xxe;\"/>"
        "<compare oper=\"EQUAL\"><atom value=\"&xxe;\"/></compare></predicat></where></select>"
        "</tesselrequest>";
    const std::vector<std::string> texts = {
        "<?xml version=\"1.0\"?>\n<!DOCTYPE tesselrequest [<!ENTITY xxe SYSTEM \"file://" +
            file.Path() + "\">]>\n" + body,
        "<!DOCTYPE tesselrequest [<!ENTITY xxe SYSTEM \"" + file.Path() + "\">]>" + body,
        // The entity defined in an external DTD file (which itself names the secret).
        "<!DOCTYPE tesselrequest SYSTEM \"file://" + dtd.Path() + "\">" +
            std::string(body).replace(body.find("&xxe;"), 5, "&inline;"),
        // A parameter entity pulling the external DTD into the internal subset.
        "<!DOCTYPE tesselrequest [<!ENTITY % ext SYSTEM \"file://" + dtd.Path() +
            "\"> %ext;]><tesselrequest version=\"&leak;\"/>",
    };
    for (const std::string &text : texts) {
        SCOPED_TRACE(text.substr(0, 120));
        auto parsed = ParseText(text);
        EXPECT_EQ(parsed.status, 404);
        EXPECT_EQ(AllFields(*parsed.data).find(secret), std::string::npos)
            << AllFields(*parsed.data);
        EXPECT_EQ(parsed.log.find(secret), std::string::npos);
        // The DOCTYPE is reported as a parse failure.
        ASSERT_FALSE(parsed.log.empty());
        const std::string first = Messages(parsed.log)[0];
        EXPECT_EQ(first.rfind("XercesInt::fatalError: line ", 0), 0u) << parsed.log;
        const std::string reason = " message DOCTYPE declarations are not accepted";
        ASSERT_GT(first.size(), reason.size());
        EXPECT_EQ(first.substr(first.size() - reason.size()), reason);
        EXPECT_EQ(Messages(parsed.log).size(), 1u) << parsed.log;
    }
}

TEST(RequestAttacks, SchemaLocationAndExternalDtdUrlsCauseNoConnection) {
    Listener listener;
    ASSERT_GT(listener.Port(), 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(listener.Port());

    // A schema location is ignored: the request parses, nothing is fetched.
    const std::string withSchema =
        "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://schemas.xmlsoap.org/soap/envelope/ " +
        url +
        "/envelope.xsd\"><soap:Body>"
        "<tesselrequest xsi:noNamespaceSchemaLocation=\"" +
        url +
        "/request.xsd\" "
        "version=\"1\" xmlns:xi=\"http://www.w3.org/2001/XInclude\">"
        "<xi:include href=\"" +
        url +
        "/inc.xml\"/>"
        "<select><from><db name=\"T\"/></from></select></tesselrequest>"
        "</soap:Body></soap:Envelope>";
    auto schema = ParseText(withSchema);
    EXPECT_EQ(schema.status, 0) << schema.log;
    EXPECT_TRUE(schema.data->m_envelope);
    EXPECT_EQ(schema.data->m_table.str(), "T");
    EXPECT_FALSE(listener.SawConnection()) << "schema location was fetched";

    // External DTDs and external entities by URL: the parse fails, nothing is fetched.
    const std::vector<std::string> dtdTexts = {
        "<!DOCTYPE tesselrequest SYSTEM \"" + url + "/request.dtd\"><tesselrequest/>",
        "<!DOCTYPE tesselrequest PUBLIC \"-//X//Y//EN\" \"" + url +
            "/public.dtd\"><tesselrequest/>",
        "<!DOCTYPE r [<!ENTITY e SYSTEM \"" + url + "/e.xml\">]><r>&e;</r>",
        "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + url + "/p.dtd\"> %p;]><r/>",
    };
    for (const std::string &text : dtdTexts) {
        SCOPED_TRACE(text);
        auto parsed = ParseText(text);
        EXPECT_EQ(parsed.status, 404);
        EXPECT_FALSE(listener.SawConnection());
    }
}

TEST(RequestAttacks, BillionLaughsFailsWithoutExpanding) {
    std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol \"lol\">\n";
    text += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n";
    for (int i = 2; i <= 9; ++i) {
        text += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) text += "&lol" + std::to_string(i - 1) + ";";
        text += "\">\n";
    }
    text += "]>\n<tesselrequest version=\"&lol9;\"><sponsor>&lol9;</sponsor></tesselrequest>";
    const long before = MaxRssKb();
    for (int round = 0; round < 3; ++round) {
        auto parsed = ParseText(text);
        EXPECT_EQ(parsed.status, 404);
        EXPECT_EQ(parsed.data->m_portalVersion.str(), "");
        EXPECT_EQ(parsed.data->m_sponsorName.str(), "");
    }
    // A full expansion would need gigabytes; allow ordinary allocator noise.
    EXPECT_LT(MaxRssKb() - before, 64 * 1024);
}

TEST(RequestAttacks, LargeWellFormedRequestsParse) {
    // A 1 MB attribute value.
    const std::string megabyte(1 << 20, 'v');
    auto bigAttr = ParseText(
        Envelope("<select><from><db name=\"T\"/></from><where><predicat><target name=\"c\"/>"
                 "<compare oper=\"EQUAL\"><atom value=\"" +
                 megabyte +
                 "\"/></compare></predicat>"
                 "</where></select>"));
    ASSERT_EQ(bigAttr.status, 0) << bigAttr.log.substr(0, 500);
    ASSERT_EQ(bigAttr.data->m_predicates.size(), 1u);
    EXPECT_EQ(bigAttr.data->m_predicates[0].atom.str(), megabyte);

    // A 100,000-character atom of multi-byte characters keeps every byte.
    std::string atom;
    for (int i = 0; i < 100000; ++i)
        atom += (i % 3 == 0) ? "\xE6\x97\xA5" : (i % 3 == 1) ? "\xC3\xA4" : "z";
    auto bigAtom = ParseText(Envelope("<select><where><filter col=\"c\" oper=\"LIKE\" val=\"" +
                                      atom + "\"/></where></select>"));
    ASSERT_EQ(bigAtom.status, 0);
    ASSERT_EQ(bigAtom.data->m_predicates.size(), 1u);
    EXPECT_EQ(bigAtom.data->m_predicates[0].atom.str(), atom);
    EXPECT_EQ(bigAtom.data->m_predicates[0].oper, OPER_LIKE);

    // 50,000 nested elements with the table at the bottom.
    std::string nested = "<tesselrequest version=\"deep\"><select><from>";
    for (int i = 0; i < 50000; ++i) nested += "<n>";
    nested += "<db name=\"Bottom\"/>";
    for (int i = 0; i < 50000; ++i) nested += "</n>";
    nested += "</from></select></tesselrequest>";
    auto deep = ParseText(nested);
    ASSERT_EQ(deep.status, 0) << deep.log.substr(0, 500);
    EXPECT_EQ(deep.data->m_table.str(), "Bottom");
    EXPECT_EQ(deep.data->m_action, ACTION_SELECT);

    // Many predicates.
    std::string many;
    for (int i = 0; i < 5000; ++i)
        many += "<predicat><target name=\"c" + std::to_string(i) + "\"/></predicat>";
    auto lots = ParseText(Envelope("<select><where>" + many + "</where></select>"));
    ASSERT_EQ(lots.status, 0);
    ASSERT_EQ(lots.data->m_predicates.size(), 5000u);
    EXPECT_EQ(lots.data->m_predicates[4999].target.str(), "c4999");
}

TEST(RequestAttacks, RunawayNestingIsRefusedInsteadOfHanging) {
    // The reader's namespace lookup walks the open-element stack for every
    // element, so nesting costs quadratic time: a 16 MiB request of nothing but
    // open tags would keep a host thread busy for hours. Depth is bounded far
    // above what requests use (and above the 50,000 levels that must work).
    std::string text = "<tesselrequest version=\"v\">";
    while (text.size() < (16u << 20)) text += "<n>";
    auto parsed = ParseText(text);
    EXPECT_EQ(parsed.status, 404);
    EXPECT_EQ(parsed.data->m_portalVersion.str(), "v");
    const auto lines = Messages(parsed.log);
    ASSERT_EQ(lines.size(), 1u) << parsed.log.substr(0, 300);
    EXPECT_EQ(lines[0].rfind("XercesInt::fatalError: line 1 column ", 0), 0u) << lines[0];
    const std::string reason = " message elements nested deeper than 65536 levels";
    ASSERT_GT(lines[0].size(), reason.size());
    EXPECT_EQ(lines[0].substr(lines[0].size() - reason.size()), reason);

    // The reader used for it is not reused in a broken state.
    auto next = ParseText("<tesselrequest version=\"after\"/>");
    EXPECT_EQ(next.status, 0) << next.log;
    EXPECT_EQ(next.data->m_portalVersion.str(), "after");
}

TEST(RequestAttacks, GarbageAndTruncatedTextFailCleanly) {
    std::mt19937 random(20240615);
    for (int round = 0; round < 200; ++round) {
        std::string garbage(1 + random() % 600, '\0');
        for (char &c : garbage) c = static_cast<char>(1 + random() % 255);
        if (round % 2 == 0) garbage = "<tesselrequest version=\"g\">" + garbage;
        auto parsed = ParseText(garbage);
        EXPECT_EQ(parsed.status, 404) << round;
    }
    for (const std::string &text :
         {std::string(), std::string("   "), std::string("<"), std::string("<?xml"),
          std::string("<?xml version=\"1.0\"?>"), std::string("</tesselrequest>"),
          std::string("<a><b></a>"), std::string("<a x=\"1\" x=\"2\"/>"),
          std::string("<a>&undefined;</a>"), std::string("<a/><b/>"),
          std::string("\xEF\xBB\xBF<a>\xFF\xFE</a>"), std::string("<p:a/>"),
          std::string("<a>&#0;</a>"), std::string("<a>]]></a>")}) {
        SCOPED_TRACE(text);
        auto parsed = ParseText(text);
        EXPECT_EQ(parsed.status, 404);
    }

    // Every truncation of a complete request fails, keeping what came before.
    const std::string full = Envelope(
        "<select><output><col><target name=\"A\"/></col></output><from><db name=\"Tbl\"/>"
        "</from><where><predicat lparen=\"1\"><target name=\"A\"/><compare oper=\"LIKE\">"
        "<atom value=\"x*\"/></compare></predicat></where></select>");
    ASSERT_EQ(ParseText(full).status, 0);
    const std::size_t tablePos = full.find("<db name=\"Tbl\"/>") + 16;
    for (std::size_t cut = 0; cut < full.size(); cut += 3) {
        auto parsed = ParseText(full.substr(0, cut));
        ASSERT_EQ(parsed.status, 404) << cut;
        if (cut >= tablePos) {
            EXPECT_EQ(parsed.data->m_table.str(), "Tbl") << cut;
        }
    }
}

}  // namespace
