// The host's Varnix side, driven through a stand-in plug-in that turns its
// requests into host callback calls ("event:TEXT", "call:REMOTE:TABLE",
// "fail:N").
#include <gtest/gtest.h>

#include "host_test_support.h"

namespace hosttest {
namespace {

CommandResult Invoke(const std::string &request, std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"invoke", "--plugin", FakePlugin()});
    args.push_back("-");
    return Host(args, request);
}

TEST(Varnix, TrustListRequestsAreAnsweredWithTheIssuerKeys) {
    TempDir dir;
    const std::string keys =
        dir.Write("trust.txt", "# issuers\nMIGJAoGBAKey1=\n\n  MIGJAoGBAKey2+/=  \n");
    struct Case {
        std::string request;
        std::vector<std::string> args;
        int exitCode;
        std::string out;  // "NAME": the golden key table under that name
        std::string err;
    };
    const Case cases[] = {
        {"call:Varnix:TrustList", {"--trust-list", keys}, 0, "TrustList", ""},
        {"call:Varnix:GetPublicKey", {"--trust-list", keys}, 0, "GetPublicKey", ""},
        // Anything else is refused: another plug-in, another table, no list.
        {"call:Elsewhere:TrustList", {"--trust-list", keys}, 0, "rc=1\n", ""},
        {"call:Varnix:Sample Age", {"--trust-list", keys}, 0, "rc=1\n", ""},
        {"call:Varnix:TrustList", {}, 0, "rc=1\n", ""},
        {"call:Varnix:TrustList",
         {"--trust-list", dir.Path() + "/none.txt"},
         1,
         "",
         "korvane-host: cannot open " + dir.Path() + "/none.txt: No such file or directory\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.request);
        const CommandResult run = Invoke(c.request, c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        const bool table = c.out.find('\n') == std::string::npos && !c.out.empty();
        EXPECT_EQ(WithoutDate(run.out),
                  table ? "rc=0\n" + Fill(Golden("trust-list.xml"), {{"@TABLE@", c.out}}) : c.out);
        EXPECT_TRUE(!table || WellFormed(run.out.substr(5)));
        EXPECT_EQ(run.err, c.err);
    }
}

TEST(Varnix, EventsOfAnyReadableShapeBecomeJsonLines) {
    TempDir dir;
    const std::string events = dir.Path() + "/events.json";
    for (const char *event :
         {// The plug-in's own shape (percent-encoded as it sends it).
          "<?xml%20version='1.0'?><tesselrequest><select><from><db%20name=\"EventSend\"/>"
          "</from><where><predicat><compare%20oper=\"EQUAL\"><target%20name=\"cs_bytes\">"
          "</target><atom%20value=\"l:42\"></atom></compare></predicat><logic%20oper=\"AND\"/>"
          "<predicat><compare%20oper=\"EQUAL\"><target%20name=\"Note\"></target><atom%20value="
          "\"s:a%20&lt;b&gt;%20&quot;q&quot;%20\\%20%C3%A9%FF%7F\"></atom></compare></predicat>"
          "</where></select></tesselrequest>",
          // Another writer's shape: single quotes, filter elements, a comment.
          "<tesselrequest><!--x--><select><from><db%20name='EventSend'/></from><where>"
          "<filter%20col='Status'%20val='s:Deny'/><predicat><target%20name='Date'/>"
          "<compare%20oper='EQUAL'><atom%20value='t:1087295422'/></compare></predicat>"
          "</where></select></tesselrequest>",
          // Not XML at all.
          "<tesselrequest>"})
        EXPECT_EQ(Invoke(std::string("event:") + event, {"--events", events}).out, "delivered=1");
    EXPECT_EQ(ReadFile(events),
              "{\"cs_bytes\":42,\"Note\":\"a <b> \\\"q\\\" \\\\ \xC3\xA9\xEF\xBF\xBD\x7F\"}\n"
              "{\"Status\":\"Deny\",\"Date\":1087295422}\n"
              "{\"unreadable event\":\"line 1 column 16: input ended before all started tags "
              "were ended; last tag started is 'tesselrequest'\"}\n");
}

TEST(Varnix, ResultsWithoutAResponseMapToHttpErrors) {
    TempDir dir;
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {"--plugin", FakePlugin(), "--events", dir.Path() + "/e.json"}));
    const std::pair<const char *, std::string> cases[] = {
        {"fail:401", "401 untrusted caller\n"},
        {"fail:405", "403 invalid credentials or signature\n"},
        {"fail:400", "500 request failed (result 400)\n"},
        {"fail:-1", "500 request failed (result -1)\n"},
    };
    for (const auto &[request, answer] : cases) {
        const HttpResult reply = Curl(server.Url(), {"--data-binary", request});
        EXPECT_EQ(std::to_string(reply.status) + " " + reply.body, answer) << request;
    }
    const std::string metrics = Curl(server.Url("/metrics")).body;
    for (const char *line : {"korvane_invoke_results_total{result=\"-1\"} 1\n",
                             "korvane_invoke_results_total{result=\"401\"} 1\n",
                             "korvane_http_responses_total{code=\"403\"} 1\n",
                             "korvane_http_responses_total{code=\"500\"} 2\n",
                             "korvane_requests_total{table=\"\"} 4\n"})
        EXPECT_NE(metrics.find(line), std::string::npos) << line;
    // The invoke subcommand reports the same case on standard error.
    const CommandResult failed = Invoke("fail:405");
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.err, "korvane-host: the plug-in answered 405 without a response\n");
}

}  // namespace
}  // namespace hosttest
