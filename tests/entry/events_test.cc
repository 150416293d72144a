// The execution record sent after each invoke, read back with the test's own
// XML reader: which requests send one, and the fields that depend on the request.
#include <unistd.h>

#include "support/harness.h"

namespace {

std::string Select(const std::string &table, const std::string &where = "",
                   const std::string &attributes = "") {
    return "<tesselrequest version=\"2.0\"" + attributes +
           "><sponsor>S</sponsor><select><output><all/></output><from><db name=\"" + table +
           "\"/></from><where>" + where + "</where></select></tesselrequest>";
}

std::string Predicate(const std::string &logic, const std::string &target, const std::string &oper,
                      const std::string &atom, const std::string &parens = "") {
    return (logic.empty() ? "" : "<logic oper=\"" + logic + "\"/>") + "<predicat" + parens +
           "><target name=\"" + target + "\"/><compare oper=\"" + oper + "\"><atom value=\"" +
           atom + "\"/></compare></predicat>";
}

std::string Field(const nt::Fields &fields, const std::string &name) {
    for (const auto &[key, value] : fields)
        if (key == name) return value;
    return "<absent>";
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
        std::string request;
        int32_t result;
        std::size_t events;
        nt::Fields fields;  // expected values; "<absent>": not sent
    } cases[] = {
        {"NorloTessel",
         "Dorvex",
         Select(
             "Sample Age",
             Predicate("", "Password", "EQUAL", "secret") + Predicate("OR", "Name", "LIKE", "D*"),
             " transactionid=\"tx-42\""),
         0,
         1,
         {{"Remote Client", "s:10.1.2.3"},
          {"c_ip", "s:10.1.2.3"},
          {"Taxonomy", "s:Network Access.AppServer.Tessel.S.I"},
          {"cs_status", "l:200"},
          {"Method", "s:Sample Age"},
          {"Filters", "s:'Password' EQUAL 'xxx' OR 'Name' LIKE 'D*'"},
          {"TransactionId", "s:tx-42"},
          {"Hostname", "s:" + HostName()},
          {"TesselName", "s:NorloTessel"},
          {"Status", "s:Success"},
          {"Date", "t:1700000000"},
          {"Severity", "<absent>"}}},
        {"NorloTessel",
         "Dorvex",
         Select("Sample Age Detail", Predicate("", "password", "NEQ", "p", " lparen=\"2\"") +
                                         Predicate("AND", "Name", "EQUAL", large) +
                                         Predicate("OR", "Name", "EQUAL", almost, " rparen=\"2\"")),
         0,
         1,
         {{"Filters",
           "s:( ( 'password' NEQ 'xxx' AND 'Name' EQUAL 'Large value: 512 bytes' OR "
           "'Name' EQUAL '" +
               almost + "' ) )"}}},
        {"NorloTessel",
         "Dorvex",
         Select("Nope"),
         0,
         1,
         {{"Remote Client", "s:10.1.2.3"},
          {"cs_status", "l:404"},
          {"Return Code", "l:0"},
          {"Taxonomy", "s:Network Access.AppServer.Tessel.S.I"},
          {"Filters", "<absent>"},
          {"TransactionId", "<absent>"}}},
        {"NorloTessel",
         "Dorvex",
         Select(std::string(1500, 'm')),
         0,
         1,
         {{"Method", "s:" + std::string(1023, 'm')}}},
        {"NorloTessel",
         "Dorvex",
         "<tesselrequest><admin action=\"describe\"/></tesselrequest>",
         0,
         0,
         {}},
        {"NorloTessel", "Dorvex", "not xml at all", 0, 0, {}},
        {"NorloTessel",
         "Dorvex",
         Select("Sample Age", "", " credentials=\"AAAA\" signature=\"BBBB\""),
         401,
         0,
         {}},
        {"Varnix", "Dorvex", Select("EventSend"), 0, 0, {}},
        {"Varnix", "Dorvex", Select("GetPublicKey"), 0, 0, {}},
        {"Varnix", "Dorvex", Select("SafDeliver"), 0, 0, {}},
        {"Varnix", "Dorvex", Select("TrustList"), 0, 1, {{"TesselName", "s:Varnix"}}},
        {"Varnix", "dorvex", Select("EventSend"), 0, 1, {{"Method", "s:EventSend"}}},
        {"varnix", "Dorvex", Select("EventSend"), 0, 1, {{"Method", "s:EventSend"}}},
        {"Varnix", "Dorvex", Select("eventsend"), 0, 1, {{"Method", "s:eventsend"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.request.substr(0, 120) + " " + c.tessel + "->" + c.dispatch);
        nt::Host host(c.tessel, c.dispatch);
        ASSERT_EQ(host.Initialize(), 0);
        host.TakeLog();
        const nt::Reply reply = host.Invoke(c.request, "10.1.2.3");
        EXPECT_EQ(reply.result, c.result);
        EXPECT_EQ(reply.answered, c.result == 0);
        const std::vector<std::string> events = host.TakeEvents();
        ASSERT_EQ(events.size(), c.events);
        const nt::Fields fields = c.events ? nt::EventFields(events[0]) : nt::Fields{};
        for (const auto &[name, value] : c.fields) EXPECT_EQ(Field(fields, name), value) << name;
        if (c.result == 401) {
            EXPECT_EQ(
                host.TakeLog(),
                "ERROR: [tid] Tessel::Invoke [NorloTessel->Dorvex] non-trusted credentials\n");
            EXPECT_TRUE(host.TakeCalls().empty());
        }
    }
}

}  // namespace
