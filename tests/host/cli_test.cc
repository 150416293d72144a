// korvane-host's command line (help and usage errors come from CLI11) and
// the invoke subcommand.
#include <gtest/gtest.h>

#include "host_test_support.h"

namespace hosttest {
namespace {

TEST(CommandLine, HelpAndUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char *outGolden;  // expected standard output; none: empty
        std::string err;        // expected standard error; "@NAME": a golden file
    };
    const std::string more = "\nRun with --help for more information.\n";
    const Case cases[] = {
        {{"--help"}, 0, "help.txt", ""},
        {{"help"}, 0, "help.txt", ""},
        {{}, 2, nullptr, "@help.txt"},
        {{"serve", "--help"}, 0, "help-serve.txt", ""},
        {{"invoke", "-h"}, 0, "help-invoke.txt", ""},
        {{"query", "--help"}, 0, "help-query.txt", ""},
        {{"frobnicate"}, 2, nullptr, "The following argument was not expected: frobnicate" + more},
        {{"serve", "--bogus"},
         2,
         nullptr,
         "The following argument was not expected: --bogus" + more},
        {{"serve", "extra"}, 2, nullptr, "The following argument was not expected: extra" + more},
        {{"serve", "--threads", "0"},
         2,
         nullptr,
         "--threads: Value 0 not in range 1 to 1024" + more},
        {{"serve", "--threads", "0x10"},
         2,
         nullptr,
         "--threads: Value 0x10 is not a decimal number" + more},
        // Decimal even with a leading zero (65, not octal 53).
        {{"serve", "--io-threads", "065"},
         2,
         nullptr,
         "--io-threads: Value 65 not in range 1 to 64" + more},
        {{"serve", "--body-limit", "4294967297"},
         2,
         nullptr,
         "--body-limit: Value 4294967297 not in range 1 to 4294967296" + more},
        {{"serve", "--timeout"}, 2, nullptr, "--timeout: 1 required SECONDS missing" + more},
        {{"invoke"}, 2, nullptr, "FILE is required" + more},
        {{"invoke", "a.xml", "b.xml"},
         2,
         nullptr,
         "The following argument was not expected: b.xml" + more},
        {{"query"}, 2, nullptr, "TABLE is required" + more},
        {{"query", "Sample Age", "--where"},
         2,
         nullptr,
         "--where: 1 required \"COLUMN OPERATOR VALUE\" missing" + more},
        {{"query", "Sample Age", "--format", "xml"},
         2,
         nullptr,
         "--format: xml not in {table,csv,json}" + more},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.empty() ? "" : c.args.back());
        std::vector<std::string> args = c.args;
        // Should it start after all, a server must not take a fixed port.
        if (!args.empty() && args[0] == "serve")
            args.insert(args.begin() + 1, "--listen=127.0.0.1:0");
        const CommandResult run = Host(args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.out, c.outGolden != nullptr ? Golden(c.outGolden) : "");
        EXPECT_EQ(run.err, c.err.rfind('@', 0) == 0 ? Golden(c.err.substr(1)) : c.err);
    }
}

TEST(Invoke, PrintsTheResponseBytesAndAnswersWithTheResult) {
    TempDir dir;
    const std::string events = dir.Path() + "/events.json";
    const std::vector<std::string> quiet = {"invoke", "--trace-file", "/dev/null", "--events",
                                            events};
    auto invoke = [&](std::vector<std::string> args, const std::string &input = "") {
        args.insert(args.begin(), quiet.begin(), quiet.end());
        return Host(args, input);
    };
    const CommandResult bare = invoke({Example("sample-age-detail.xml")});
    EXPECT_EQ(bare.exitCode, 0) << bare.err;
    EXPECT_EQ(bare.err, "");
    EXPECT_TRUE(WellFormed(bare.out));
    EXPECT_EQ(bare.out.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                             "<RESPONSE_TABLE>\n  <TBL_INFO>\n    <NAME>Sample Age Detail</NAME>\n",
                             0),
              0u);
    EXPECT_NE(ReadFile(events).find("\"Method\":\"Sample Age Detail\""), std::string::npos);

    // Standard input, and raw mode with the plug-in's own HTTP header.
    const CommandResult raw = invoke({"--raw", "-"}, ReadFile(Example("sample-age-detail.xml")));
    EXPECT_EQ(raw.exitCode, 0);
    const std::size_t end = raw.out.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(raw.out.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    const std::string body = raw.out.substr(end + 4);
    EXPECT_NE(raw.out.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(WithoutDate(body), WithoutDate(bare.out));

    // A request with credentials is refused for now: no response, exit 1.
    const CommandResult refused =
        invoke({"-"},
               "<tesselrequest credentials=\"AAAA\" signature=\"AAAA\"><select><from>"
               "<db name=\"Sample Age\"/></from></select></tesselrequest>");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "korvane-host: the plug-in answered 401 without a response\n");

    const CommandResult missing = Host({"invoke", dir.Path() + "/missing.xml"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "korvane-host: cannot open " + dir.Path() +
                               "/missing.xml: No such file or directory\n");
}

}  // namespace
}  // namespace hosttest
