// The sample tables as a portal reads them: the response of each drill-down
// link of "Sample Age", and of a few hand-written selects, against a golden file.
#include "support/harness.h"

namespace {

TEST(SampleTables, LinksAndSelectsGiveTheirRows) {
    nt::Host host;
    ASSERT_EQ(host.Initialize(), 0);
    std::string text;
    for (const char *form : {"sample-age.xml", "sample-age.soap.xml"})
        text += nt::FollowLinks(
            host, host.Invoke(nt::ReadFile(nt::SourcePath("examples/requests/") + form)).response);
    const std::string greater =
        "<predicat><target name=\"Age\"/><compare oper=\"GREATER\"><atom "
        "value=\"100\"/></compare></predicat>";
    for (const std::string &request :
         {nt::Select("Sample Age Detail", greater, "<col><target name=\"LastName\"/></col>"),
          nt::Select("Sample Age",
                     "<predicat><target name=\"Name\"/><compare oper=\"EQUAL\"><atom "
                     "value=\"Volvo\"/></compare></predicat>"),
          // Only the row that each method appends value by value escapes "norecords".
          nt::Select("Sample Age Detail", "", "<norecords/>"),
          nt::Select("Sample Age", greater, "<norecords/>")})
        text += "-- select " + request + "\n" + host.Invoke(request).response;
    EXPECT_TRUE(nt::MatchesGolden("golden/sample-age.links", text));
}

}  // namespace
