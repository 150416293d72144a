// The event request text and the URL-encoded form that goes to the host are
// built side by side; they must agree byte for byte for any field text.
#include "entry/event_record.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "entry/tessel.h"
#include "support/test_host.h"

namespace {

TEST(EventRecord, EncodedTextIsTheUrlEncodedRequestText) {
    testhost::StderrCapture quiet;
    quiet.Start();
    Tessel owner("V02.000.02", "Event Tessel & co", "Dorvex", nullptr, nullptr, nullptr);
    EventRecord event(owner);

    std::string everything;
    for (int c = 1; c < 256; ++c) everything.push_back(static_cast<char>(c));
    event.AddText("a b$c%d&e+f,g/h:i;j=k?l@m", "<x>'y'\"z\"\ttab\nline\rcr");
    event.AddText("every byte", everything);
    event.AddNumber("cs_bytes", 4294967295u);
    event.AddTime("t", 1);
    event.AddText("", "");
    event.SetSeverity(2);
    event.Complete();

    std::string expected;
    AppendUrlEncoded(expected, event.RequestText().view());
    EXPECT_EQ(event.EncodedText(), expected);
    EXPECT_STREQ(event.RequestText().UrlEncoded(), event.EncodedText().c_str());
    // The plain text carries the field texts XML-escaped.
    EXPECT_NE(
        event.RequestText().str().find(
            "<target name=\"a b$c%d&amp;e+f,g/h:i;j=k?l@m\"></target><atom value=\"s:&lt;x&gt;"
            "&apos;y&apos;&quot;z&quot;\ttab\nline\rcr\"></atom>"),
        std::string::npos);
    EXPECT_NE(event.RequestText().str().find("<atom value=\"l:4294967295\">"), std::string::npos);
    EXPECT_NE(event.RequestText().str().find("<target name=\"Severity\"></target><atom "
                                             "value=\"s:Critical\">"),
              std::string::npos);
    // Reset empties both forms.
    event.Reset();
    EXPECT_TRUE(event.RequestText().empty());
    EXPECT_TRUE(event.EncodedText().empty());
    quiet.Stop();
}

}  // namespace
