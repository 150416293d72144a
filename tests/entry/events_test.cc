// The execution record sent after each invoke, read back with the test's own
// XML reader: which requests send one, and all its fields (tests/data/entry).
#include <unistd.h>

#include "support/harness.h"

namespace {

std::string Select(const std::string &table, const std::string &where = "",
                   const std::string &attributes = "") {
    return nt::Select(table, where, "<all/>", "S", " version=\"2.0\"" + attributes);
}

std::string Predicate(const std::string &logic, const std::string &target, const std::string &oper,
                      const std::string &atom, const std::string &parens = "") {
    return (logic.empty() ? "" : "<logic oper=\"" + logic + "\"/>") + "<predicat" + parens +
           "><target name=\"" + target + "\"/><compare oper=\"" + oper + "\"><atom value=\"" +
           atom + "\"/></compare></predicat>";
}

std::string HostName() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

TEST(Events, WhichRequestsSendOneAndWhatItSays) {
    const std::string large(512, 'v'), almost(511, 'w');
    const struct {
        const char *tessel, *dispatch;
        int32_t result;
        std::string request;
        // The names of the invoke call when they differ from those of
        // "initialize", and a line the log must then hold.
        const char *invokedAs[2] = {nullptr, nullptr};
        std::string logLine = "";
    } cases[] = {
        // clang-format off
        {"NorloTessel", "Dorvex", 0,
         Select("Sample Age", Predicate("", "Password", "EQUAL", "secret") +
                Predicate("OR", "Name", "LIKE", "D*"), " transactionid=\"tx-42\"")},
        {"NorloTessel", "Dorvex", 0,
         Select("Sample Age Detail", Predicate("", "password", "NEQ", "p", " lparen=\"2\"") +
                Predicate("AND", "Name", "EQUAL", large) +
                Predicate("OR", "Name", "EQUAL", almost, " rparen=\"2\""))},
        {"NorloTessel", "Dorvex", 0, Select("Nope")},
        {"NorloTessel", "Dorvex", 0, Select(std::string(1500, 'm'))},
        {"NorloTessel", "Dorvex", 0, "<tesselrequest><admin action=\"describe\"/></tesselrequest>"},
        {"NorloTessel", "Dorvex", 0, "not xml at all"},
        {"NorloTessel", "Dorvex", 401, Select("Sample Age", "", " credentials=\"AAAA\" signature=\"BBBB\"")},
        {"Varnix", "Dorvex", 0, Select("EventSend")},
        {"Varnix", "Dorvex", 0, Select("GetPublicKey")},
        {"Varnix", "Dorvex", 0, Select("SafDeliver")},
        {"Varnix", "Dorvex", 0, Select("TrustList")},
        {"Varnix", "dorvex", 0, Select("EventSend")},
        {"varnix", "Dorvex", 0, Select("EventSend")},
        {"Varnix", "Dorvex", 0, Select("eventsend")},
        {"Varnix", "Dorvex", 0, Select("EventSend"), {"Varnix", "dorvex"}},
        {"Varnix", "dorvex", 0, Select("EventSend"), {"Varnix", "Dorvex"}},
        {"NorloTessel", "Dorvex", 0, Select("Sample Age"), {"Other", "Gate"},
         "TRACE: [tid] Tessel::Invoke: [Other->Gate] method [Sample Age]\n"},
        // clang-format on
    };
    std::string sent;  // the fields of each event, the machine's own values named
    for (const auto &c : cases) {
        SCOPED_TRACE(c.request.substr(0, 120) + " " + c.tessel + "->" + c.dispatch);
        nt::Host host(c.tessel, c.dispatch);
        ASSERT_EQ(host.Initialize(), 0);
        host.TakeLog();
        if (c.invokedAs[0] != nullptr) host.name = c.invokedAs[0], host.dispatch = c.invokedAs[1];
        const nt::Reply reply = host.Invoke(c.request, "10.1.2.3");
        if (!c.logLine.empty()) {
            EXPECT_NE(host.TakeLog().find(c.logLine), std::string::npos);
        }
        EXPECT_EQ(reply.result, c.result);
        EXPECT_EQ(reply.answered, c.result == 0);
        const std::vector<std::string> events = host.TakeEvents();
        sent += "-- " + std::to_string(&c - cases) + ": " + std::to_string(events.size()) + "\n";
        for (const auto &[name, value] : events.empty() ? nt::Fields{} : nt::EventFields(events[0]))
            sent += name + " " +
                    (name == "OS" || (name == "Hostname" && value == "s:" + HostName())
                         ? "@" + name + "@"
                         : value) +
                    "\n";
        if (c.result == 401) {
            EXPECT_EQ(
                host.TakeLog(),
                "ERROR: [tid] Tessel::Invoke [NorloTessel->Dorvex] non-trusted credentials\n");
            // No issuer yet: the trust list is asked for, then the public key.
            const std::vector<std::string> calls = host.TakeCalls();
            ASSERT_EQ(calls.size(), 2u);
            EXPECT_NE(nt::UrlDecode(calls[0]).find("localhost|Varnix|"), std::string::npos);
            EXPECT_NE(nt::UrlDecode(calls[0]).find("\"TrustList\""), std::string::npos);
            EXPECT_NE(nt::UrlDecode(calls[1]).find("\"GetPublicKey\""), std::string::npos);
        }
    }
    EXPECT_TRUE(nt::MatchesGolden("entry/events.txt", sent));
}

}  // namespace
