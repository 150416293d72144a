// The host's Varnix side, driven through a stand-in plug-in that turns its
// requests into host callback calls ("event:TEXT", "call:REMOTE:TABLE").
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "host_test_support.h"

namespace hosttest {
namespace {

std::string FakePlugin() {
    return std::string(NT_BINARY_DIR) + "/testing/libkorvane_fake_tessel.so";
}

CommandResult Invoke(const std::string &request, std::vector<std::string> extra) {
    std::vector<std::string> argv = {HostPath(), "invoke", "--plugin", FakePlugin()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back("-");
    return RunCommand(argv, request);
}

TEST(Varnix, TrustListRequestsAreAnsweredWithTheIssuerKeys) {
    TempDir dir;
    const std::string keys = dir.Write("trust.txt",
                                       "# issuers\n"
                                       "MIGJAoGBAKey1=\n"
                                       "\n"
                                       "  MIGJAoGBAKey2+/=  \n");
    const char *const kTable =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<RESPONSE_TABLE>\n"
        "  <TBL_INFO>\n"
        "    <NAME>%s</NAME>\n"
        "    <DATE>DATE</DATE>\n"
        "    <x>0</x>\n    <y>0</y>\n    <xTrend>0</xTrend>\n    <yTrend>0</yTrend>\n"
        "  </TBL_INFO>\n"
        "  <COLS>\n"
        "    <COL NAME=\"PublicKey\" TYPE=\"string\"/>\n"
        "  </COLS>\n"
        "  <RECS>\n"
        "    <REC>\n      <VAL>MIGJAoGBAKey1=</VAL>\n    </REC>\n"
        "    <REC>\n      <VAL>MIGJAoGBAKey2+/=</VAL>\n    </REC>\n"
        "  </RECS>\n"
        "</RESPONSE_TABLE>\n";
    for (const char *table : {"TrustList", "GetPublicKey"}) {
        SCOPED_TRACE(table);
        const CommandResult run =
            Invoke(std::string("call:Varnix:") + table, {"--trust-list", keys});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        char expected[2048];
        std::snprintf(expected, sizeof expected, kTable, table);
        EXPECT_EQ(WithoutDate(run.out), "rc=0\n" + std::string(expected));
        EXPECT_TRUE(WellFormed(run.out.substr(5)));
    }

    // Anything else is refused: another plug-in, another table, no list.
    EXPECT_EQ(Invoke("call:Elsewhere:TrustList", {"--trust-list", keys}).out, "rc=1\n");
    EXPECT_EQ(Invoke("call:Varnix:Sample Age", {"--trust-list", keys}).out, "rc=1\n");
    EXPECT_EQ(Invoke("call:Varnix:TrustList", {}).out, "rc=1\n");

    const CommandResult missing =
        Invoke("call:Varnix:TrustList", {"--trust-list", dir.Path() + "/none.txt"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err,
              "korvane-host: cannot open " + dir.Path() + "/none.txt: No such file or directory\n");
}

TEST(Varnix, EventsOfAnyReadableShapeBecomeJsonLines) {
    TempDir dir;
    const std::string events = dir.Path() + "/events.json";
    const std::vector<std::string> sink = {"--events", events};
    // The plug-in's own shape (percent-encoded as it sends it).
    EXPECT_EQ(
        Invoke("event:<?xml%20version='1.0'?><tesselrequest><select><from><db%20name=\"Event"
               "Send\"/></from><where><predicat><compare%20oper=\"EQUAL\"><target%20name=\"cs"
               "_bytes\"></target><atom%20value=\"l:42\"></atom></compare></predicat><logic%2"
               "0oper=\"AND\"/><predicat><compare%20oper=\"EQUAL\"><target%20name=\"Note\"></t"
               "arget><atom%20value=\"s:a%20&lt;b&gt;%20&quot;q&quot;%20\\%20%C3%A9\"></atom></"
               "compare></predicat></where></select></tesselrequest>",
               sink)
            .out,
        "delivered=1");
    // Another writer's shape: single quotes, filter elements, a comment.
    EXPECT_EQ(
        Invoke("event:<tesselrequest><!--x--><select><from><db%20name='EventSend'/></from><where>"
               "<filter%20col='Status'%20val='s:Deny'/><predicat><target%20name='Date'/>"
               "<compare%20oper='EQUAL'><atom%20value='t:1087295422'/></compare></predicat>"
               "</where></select></tesselrequest>",
               sink)
            .out,
        "delivered=1");
    // Not XML at all.
    EXPECT_EQ(Invoke("event:<tesselrequest>", sink).out, "delivered=1");

    const std::string written = ReadFile(events);
    const std::string expectedStart =
        "{\"cs_bytes\":42,\"Note\":\"a <b> \\\"q\\\" \\\\ \xC3\xA9\"}\n"
        "{\"Status\":\"Deny\",\"Date\":1087295422}\n"
        "{\"unreadable event\":\"";
    EXPECT_EQ(written.substr(0, expectedStart.size()), expectedStart) << written;
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 3);
}

TEST(Varnix, ResultsWithoutAResponseMapToHttpErrors) {
    TempDir dir;
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {"--plugin", FakePlugin(), "--events", dir.Path() + "/e.json"}));
    struct Case {
        const char *request;
        int status;
        const char *body;
    };
    const Case cases[] = {
        {"fail:401", 401, "untrusted caller\n"},
        {"fail:405", 403, "invalid credentials or signature\n"},
        {"fail:400", 500, "request failed (result 400)\n"},
        {"fail:-1", 500, "request failed (result -1)\n"},
    };
    for (const Case &c : cases) {
        const HttpResult reply = Curl(server.Url(), {"--data-binary", c.request});
        EXPECT_EQ(reply.status, c.status) << c.request;
        EXPECT_EQ(reply.body, c.body);
    }
    const std::string metrics = Curl(server.Url("/metrics")).body;
    for (const char *line : {"korvane_invoke_results_total{result=\"-1\"} 1\n",
                             "korvane_invoke_results_total{result=\"401\"} 1\n",
                             "korvane_http_responses_total{code=\"403\"} 1\n",
                             "korvane_http_responses_total{code=\"500\"} 2\n",
                             "korvane_requests_total{table=\"\"} 4\n"})
        EXPECT_NE(metrics.find(line), std::string::npos) << line;
    // The invoke subcommand reports the same case on standard error.
    const CommandResult failed = Invoke("fail:405", {});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.err, "korvane-host: the plug-in answered 405 without a response\n");
}

}  // namespace
}  // namespace hosttest
