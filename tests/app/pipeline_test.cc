// The invoke pipeline through Dorvex: the response block, raw mode, refused
// credentials, the execution record and the application's start-up settings.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "response_table.h"
#include "support/test_host.h"

using apptest::ReadEvent;
using apptest::ReadTable;
using testhost::TestHost;

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

std::string Request(const std::string &table, const std::string &where = "",
                    const std::string &header = "") {
    return "<?xml version=\"1.0\"?><tesselrequest version=\"2.0\"" + header +
           "><sponsor version=\"2.0\">Portal</sponsor><select><output><all/></output><from><db "
           "name=\"" +
           table + "\"/></from><where>" + where + "</where></select></tesselrequest>";
}

std::string Pred(const std::string &logic, const std::string &target, const std::string &oper,
                 const std::string &atom) {
    std::string text = logic.empty() ? "" : "<logic oper=\"" + logic + "\"/>";
    return text + "<predicat><target name=\"" + target + "\"/><compare oper=\"" + oper +
           "\"><atom value=\"" + atom + "\"/></compare></predicat>";
}

std::vector<std::string> Names(const Fields &fields) {
    std::vector<std::string> names;
    for (const auto &f : fields) names.push_back(f.first);
    return names;
}

std::string Field(const Fields &fields, const std::string &name) {
    for (const auto &f : fields)
        if (f.first == name) return f.second;
    return "<absent>";
}

class Pipeline : public ::testing::Test {
  protected:
    void Start(const std::string &config = "", const char *name = "NorloTessel",
               const char *dispatch = "Dorvex") {
        host.reset();  // the earlier host terminates and unloads first
        host = std::make_unique<TestHost>(name, dispatch);
        ASSERT_TRUE(host->Load()) << host->LoadError();
        ASSERT_EQ(host->Initialize(config), 0);
        host->ClearLog();
        host->ClearCalls();
    }
    Fields LastEvent() {
        const std::vector<std::string> events = host->Events();
        if (events.empty()) return {};
        return ReadEvent(events.back());
    }
    std::unique_ptr<TestHost> host;
};

TEST_F(Pipeline, ExecutionRecordCarriesEveryFieldInOrder) {
    Start();
    testhost::InvokeOptions options;
    options.remoteAddress = "10.1.2.3";
    const std::string request = Request(
        "Sample Age", Pred("", "Password", "EQUAL", "secret") + Pred("OR", "Name", "LIKE", "D*"),
        " transactionid=\"tx-42\"");
    const testhost::InvokeResult r = host->Invoke(request, options);
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(host->Events().size(), 1u);
    const Fields event = LastEvent();
    EXPECT_EQ(Names(event),
              (std::vector<std::string>{
                  "Remote Client", "c_ip", "Taxonomy", "cs_bytes", "sc_bytes", "cs_method",
                  "cs_status", "Method", "EventLog", "Return Code", "Execution Time (seconds)",
                  "Filters", "TransactionId", "Hostname", "TesselName", "Status", "Date", "OS"}));
    EXPECT_EQ(Field(event, "Remote Client"), "s:10.1.2.3");
    EXPECT_EQ(Field(event, "Taxonomy"), "s:Network Access.AppServer.Tessel.S.I");
    EXPECT_EQ(Field(event, "cs_bytes"), "l:" + std::to_string(request.size()));
    EXPECT_EQ(Field(event, "sc_bytes"), "l:" + std::to_string(r.response.size()));
    EXPECT_EQ(Field(event, "cs_method"), "s:Morv");
    EXPECT_EQ(Field(event, "cs_status"), "l:200");
    EXPECT_EQ(Field(event, "Method"), "s:Sample Age");
    EXPECT_EQ(Field(event, "EventLog"), "s:com.vkn.Morvium.Tessel");
    EXPECT_EQ(Field(event, "Return Code"), "l:0");
    EXPECT_EQ(Field(event, "Execution Time (seconds)").substr(0, 2), "l:");
    EXPECT_EQ(Field(event, "Filters"), "s:'Password' EQUAL 'xxx' OR 'Name' LIKE 'D*'");
    EXPECT_EQ(Field(event, "TransactionId"), "s:tx-42");
    EXPECT_EQ(Field(event, "TesselName"), "s:NorloTessel");
    EXPECT_EQ(Field(event, "Status"), "s:Success");
    EXPECT_EQ(Field(event, "Date").substr(0, 2), "t:");
    EXPECT_EQ(Field(event, "OS").rfind("s:Linux ", 0), 0u);

    // The event text itself: the exact head, "&"/"<" escaped in values, URL-encoded.
    const std::string decoded = testhost::UrlDecode(host->Events().back());
    EXPECT_EQ(
        decoded.rfind("<?xml version='1.0' encoding='UTF-8' standalone='no'?><tesselrequest "
                      "version=\"V02.0\" signature=\"\"><sponsor version=\"V02.0\">Varnix"
                      "</sponsor><select><output><all/></output><from><db name=\"EventSend\"/>"
                      "</from><where><predicat><compare oper=\"EQUAL\"><target name=\"Remote "
                      "Client\"></target><atom value=\"s:10.1.2.3\"></atom></compare></predicat>"
                      "<logic oper=\"AND\"/>",
                      0),
        0u)
        << decoded;
    EXPECT_EQ(host->Events().back().find(' '), std::string::npos);
}

TEST_F(Pipeline, FiltersTextMasksPasswordsAndSummarisesLargeValues) {
    Start();
    const std::string big(512, 'v');
    const std::string almost(511, 'w');
    host->Invoke(Request("Sample Age Detail",
                         "<predicat lparen=\"2\"><target name=\"password\"/><compare "
                         "oper=\"NEQ\"><atom value=\"p\"/></compare></predicat>" +
                             Pred("AND", "Name", "EQUAL", big) +
                             "<logic oper=\"OR\"/><predicat rparen=\"2\"><target name=\"Name\"/>"
                             "<compare oper=\"EQUAL\"><atom value=\"" +
                             almost + "\"/></compare></predicat>"));
    EXPECT_EQ(Field(LastEvent(), "Filters"),
              "s:( ( 'password' NEQ 'xxx' AND 'Name' EQUAL 'Large value: 512 bytes' OR 'Name' "
              "EQUAL '" +
                  almost + "' ) )");
}

TEST_F(Pipeline, UnknownMethodLongNamesAndTheVarnixSkipRule) {
    Start();
    host->Invoke(Request("Nope"));
    Fields event = LastEvent();
    EXPECT_EQ(Field(event, "cs_status"), "l:404");
    EXPECT_EQ(Field(event, "Return Code"), "l:0");
    EXPECT_EQ(Field(event, "Taxonomy"), "s:Network Access.AppServer.Tessel.S.I");
    EXPECT_EQ(Field(event, "Filters"), "<absent>");
    EXPECT_EQ(Field(event, "TransactionId"), "<absent>");
    EXPECT_EQ(Field(event, "Remote Client"), "<absent>");

    const std::string longName(1500, 'm');
    host->Invoke(Request(longName));
    EXPECT_EQ(Field(LastEvent(), "Method"), "s:" + std::string(1023, 'm'));

    // No table, no record: describe requests and unparsable texts send nothing.
    host->ClearCalls();
    host->Invoke(
        "<?xml version=\"1.0\"?><tesselrequest><admin action=\"describe\"/></tesselrequest>");
    host->Invoke("not xml at all");
    EXPECT_TRUE(host->Events().empty());

    // Varnix's own event and key traffic produces no events of its own...
    Start("", "Varnix", "Dorvex");
    for (const char *method : {"EventSend", "GetPublicKey", "SafDeliver"})
        host->Invoke(Request(method));
    EXPECT_TRUE(host->Events().empty());
    host->Invoke(Request("TrustList"));
    EXPECT_EQ(host->Events().size(), 1u);
    // ...but the comparison is exact: another letter case is somebody else.
    Start("", "Varnix", "dorvex");
    host->Invoke(Request("EventSend"));
    EXPECT_EQ(host->Events().size(), 1u);
}

TEST_F(Pipeline, ResponseBlockLengthAndRawMode) {
    Start();
    testhost::InvokeOptions keep;
    keep.freeResponse = false;
    testhost::InvokeResult r = host->Invoke(Request("Sample Age"), keep);
    ASSERT_TRUE(r.gotResponse);
    EXPECT_EQ(r.length, std::strlen(r.block)) << "the stored length excludes the terminator";
    EXPECT_EQ(host->Free(r.block), 0);

    testhost::InvokeOptions noLength;
    noLength.passLength = false;
    r = host->Invoke(Request("Sample Age"), noLength);
    EXPECT_EQ(r.result, 0);
    EXPECT_TRUE(ReadTable(r.response).wellFormed);

    Start("<KorvaneConfig><Tessel><Raw>TRUE</Raw></Tessel></KorvaneConfig>");
    r = host->Invoke(Request("Sample Age"));
    ASSERT_EQ(r.response.rfind("HTTP/1.1 200 OK\r\nDate: ", 0), 0u);
    const std::size_t bodyStart = r.response.find("\r\n\r\n") + 4;
    const std::string header = r.response.substr(0, bodyStart);
    EXPECT_NE(header.find("\r\nServer: Korvane\r\nConnection: close\r\nContent-Type: text/xml; "
                          "charset=\"utf-8\"\r\nContent-Length: " +
                          std::to_string(r.response.size() - bodyStart) + "\r\n\r\n"),
              std::string::npos)
        << header;
    EXPECT_EQ(r.length, r.response.size());
    // In raw mode parse errors are not logged.
    host->ClearLog();
    host->Invoke("<broken");
    EXPECT_FALSE(host->LogContains("fatalError"));
    EXPECT_FALSE(host->LogContains("error parsing xml"));
}

TEST_F(Pipeline, RequestsWithCredentialsAreNeverServedUnchecked) {
    Start();
    const testhost::InvokeResult r =
        host->Invoke(Request("Sample Age", "", " credentials=\"AAAA\" signature=\"BBBB\""));
    EXPECT_EQ(r.result, 401);
    EXPECT_FALSE(r.gotResponse);
    EXPECT_TRUE(host->Events().empty());
    EXPECT_TRUE(
        host->LogContains("Tessel::Invoke [NorloTessel->Dorvex] non-trusted credentials\n"));
}

TEST_F(Pipeline, ApplicationStartUpLevelsAndEventTime) {
    // The application raises the level to 3 whatever the configuration said.
    Start("<KorvaneConfig><Tessel><DebugLevel>TSL_ERROR</DebugLevel></Tessel></KorvaneConfig>");
    host->Invoke(Request("Sample Age"));
    EXPECT_TRUE(host->LogContains("TRACE: "));
    EXPECT_TRUE(host->LogContains("] NorloTessel::sAge\n"));

    host.reset();
    host = std::make_unique<TestHost>("NorloTessel", "Dorvex");
    ASSERT_TRUE(host->Load());
    host->Initialize(
        "<KorvaneConfig><Tessel><EventTime>0</EventTime><EventTime>-5</EventTime><EventTime>abc"
        "</EventTime><EventTime>30s</EventTime></Tessel></KorvaneConfig>");
    const std::string log = host->Log();
    std::vector<std::string> set;
    for (const std::string &line : testhost::SplitLines(log))
        if (line.find("NorloTessel: set EventTime") != std::string::npos)
            set.push_back(std::string(testhost::StripPrefix(line)));
    EXPECT_EQ(set, (std::vector<std::string>{"NorloTessel: set EventTime to 10 seconds",
                                             "NorloTessel: set EventTime to 10 seconds",
                                             "NorloTessel: set EventTime to 10 seconds",
                                             "NorloTessel: set EventTime to 30 seconds"}));
}

TEST_F(Pipeline, FileModeKeepsItsLogFileAfterStartUp) {
    const std::string name = "FileModeTessel" + std::to_string(::getpid());
    const std::string path = name + ".log";
    Start("<KorvaneConfig><Tessel><DebugLevel>TSL_FILE</DebugLevel></Tessel></KorvaneConfig>",
          name.c_str());
    host->Invoke(Request("Sample Age"));
    host->Terminate();
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    std::remove(path.c_str());
    EXPECT_NE(content.str().find("TRACE: "), std::string::npos);
    EXPECT_NE(content.str().find("] NorloTessel::sAge\n"), std::string::npos) << content.str();
}

}  // namespace
