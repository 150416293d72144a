// Small responses are written in one pass into room the thread keeps; large
// ones are sized exactly first. Both must give the same bytes on either side
// of the boundary, in both modes, and with a link beside the value.
#include <gtest/gtest.h>

#include <string>

#include "request/tsl_util.h"
#include "support/table_helpers.h"

namespace {

const char kRequest[] =
    "<tesselrequest version=\"V02.0\"><sponsor version=\"V02.0\">S</sponsor>"
    "<select><output><all/></output><from><db name=\"T\"/></from><where></where></select>"
    "</tesselrequest>";

std::string Repeat(std::string_view piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(ResponseRoom, EveryLengthAndModeGivesTheExactText) {
    // Up to 14,000 pieces bound a response under the kept room (7,000 with
    // the link, which doubles the bound); 15,000 is over it; 28,000 would
    // overrun the room if the bound were taken twice as large.
    for (const std::size_t quotes : {0, 1, 7000, 14000, 15000, 28000, 100000})
        for (const bool raw : {false, true})
            for (const bool link : {false, true}) {
                SCOPED_TRACE(std::to_string(quotes) + (raw ? " raw" : "") + (link ? " link" : ""));
                auto data = tabletest::Parse(kRequest, raw);
                const std::string value = Repeat("\"a<", quotes) + "\x01z";
                ASSERT_TRUE(data->SetTableInfo("T", "D"));
                ASSERT_TRUE(data->AddColumn("C", TYPE_STRING));
                ASSERT_TRUE(link ? data->AddLinkRecord(value.c_str(), value.c_str(), nullptr)
                                 : data->AddRecord(value.c_str(), nullptr));
                data->BuildResponse();
                const std::string escaped = Repeat("&quot;a&lt;", quotes) + "z";
                const std::string body =
                    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                    "<RESPONSE_TABLE>\n  <TBL_INFO>\n    <NAME>T</NAME>\n    <DATE>D</DATE>\n"
                    "    <x>0</x>\n    <y>0</y>\n    <xTrend>0</xTrend>\n    <yTrend>0</yTrend>\n"
                    "  </TBL_INFO>\n  <COLS>\n    <COL NAME=\"C\" TYPE=\"string\"/>\n  </COLS>\n"
                    "  <RECS>\n    <REC>\n      <VAL" +
                    (link ? " LINK=\"" + escaped + "\"" : std::string()) + ">" + escaped +
                    "</VAL>\n    </REC>\n  </RECS>\n</RESPONSE_TABLE>\n";
                const std::string response = data->GetResponse();
                if (!raw) {
                    EXPECT_EQ(response, body);
                    continue;
                }
                const std::size_t end = response.find("\r\n\r\n");
                ASSERT_NE(end, std::string::npos);
                EXPECT_EQ(response.substr(end + 4), body);
                EXPECT_NE(response.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
                          std::string::npos);
            }
}

}  // namespace
