// The host's Varnix side, driven through a stand-in plug-in that turns its
// requests into host callback calls ("event:TEXT", "fail:N"; the trust-list
// calls are in the command transcript).
#include <gtest/gtest.h>

#include "host_test_support.h"

namespace hosttest {
namespace {

CommandResult Invoke(const std::string &request, std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"invoke", "--plugin", FakePlugin()});
    args.push_back("-");
    return Host(args, request);
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

TEST(Varnix, ResultsWithoutAResponseAreCountedByResultAndStatus) {
    TempDir dir;
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {"--plugin", FakePlugin(), "--events", dir.Path() + "/e.json"}));
    // Their answers are in the HTTP transcript.
    for (const char *request : {"fail:401", "fail:405", "fail:400", "fail:-1"})
        Curl(server.Url(), {"--data-binary", request});
    const std::string metrics = Curl(server.Url("/metrics")).body;
    for (const char *line : {"korvane_invoke_results_total{result=\"-1\"} 1\n",
                             "korvane_invoke_results_total{result=\"401\"} 1\n",
                             "korvane_http_responses_total{code=\"403\"} 1\n",
                             "korvane_http_responses_total{code=\"500\"} 2\n",
                             "korvane_requests_total{table=\"(error)\"} 4\n"})
        EXPECT_NE(metrics.find(line), std::string::npos) << line;
}

}  // namespace
}  // namespace hosttest
