// tslUtil::BinarySize and tslUtil::Decode: decoded bytes, the bytes left alone
// around them, and the trace lines, read through the log's sink.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/trace_log.h"
#include "request/tsl_util.h"

using namespace std::string_literals;

namespace {

void Collect(void *context, const char *line, std::size_t size) {
    static_cast<std::string *>(context)->append(line, size);
}

// The trace line BinarySize writes for `text`: "Premature end" without a
// position, "Invalid end" with one; cut where the log cuts a line.
std::string Line(const std::string &text, int position = -1) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "TRACE: [0x%08x] ", TslThreadId());
    const std::string message = position < 0 ? "Premature end of base64 string: \"" + text + "\" \n"
                                             : "Invalid end of base64 string: \"" + text +
                                                   "\", (= at position " +
                                                   std::to_string(position) + " of a group) \n";
    std::string line = prefix + ("tslUtil::BinarySize: " + message);
    // A cut line keeps its line end.
    if (line.size() > 20 + kTslMessageBytes - 1) {
        line.resize(20 + kTslMessageBytes - 2);
        line += '\n';
    }
    return line;
}

// `bytes` empty: the text is rejected; `line`: what each call logs.
struct Case {
    std::string text, bytes, line;
};

TEST(Base64, DecodesOrRejectsWithItsTraceLine) {
    const std::string longText = std::string(20001, 'A') + "=";
    const std::vector<Case> cases = {
        {"", "", ""},
        {"QQ", "", Line("QQ")},
        {"QQ=", "A", ""},
        {"QQ==QUJD!", "A", ""},
        {"QUJD", "ABC", ""},
        {"QUJD=", "", Line("QUJD=", 0)},
        {"Q===", "", Line("Q===", 1)},
        {"QUJDR", "", Line("QUJDR")},
        {"Q U\r\n\xffJ\x80\tD", "ABC", ""},
        {"//8=", "\xff\xff", ""},
        {"**8=", "\xff\xff", ""},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/",
         "\x00\x10\x83\x10\x51\x87\x20\x92\x8b\x30\xd3\x8f\x41\x14\x93\x51\x55\x97\x61\x96\x9b"
         "\x71\xd7\x9f\x82\x18\xa3\x92\x59\xa7\xa2\x9a\xab\xb2\xdb\xaf\xc3\x1c\xb3\xd3\x5d\xb7"
         "\xe3\x9e\xbb\xf3\xdf\xbf"s,
         ""},
        // A line quotes a long text only as far as the log keeps a line.
        {longText, "", Line(longText, 1)},
        {std::string(1 << 22, ' ') + "QUJD", "ABC", ""},
    };
    std::string log;
    const int level = TslGetLevel();
    TslSetLevel(TSL_TRACE);
    TslSetDebugSink(Collect, &log);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        log.clear();
        EXPECT_EQ(tslUtil::BinarySize(c.text.c_str()), c.bytes.size());
        EXPECT_EQ(log, c.line);

        // Room for the bytes plus a guard that must keep its filler.
        std::string out(c.bytes.size() + 8, '\x5a');
        log.clear();
        EXPECT_EQ(tslUtil::Decode(c.text.c_str(), reinterpret_cast<unsigned char *>(out.data())),
                  c.bytes.empty() ? -1 : 0);
        EXPECT_EQ(log, c.line);
        EXPECT_EQ(out, c.bytes + std::string(8, '\x5a'));
    }
    TslSetDebugSink(nullptr, nullptr);
    TslSetLevel(level);

    EXPECT_EQ(tslUtil::BinarySize(nullptr), 0u);
    EXPECT_EQ(tslUtil::Decode(nullptr, nullptr), -1);
    EXPECT_EQ(tslUtil::Decode("QUJD", nullptr), -1);
}

}  // namespace
