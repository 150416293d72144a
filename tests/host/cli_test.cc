// korvane-host query and invoke, run as a person would from a terminal.
#include <gtest/gtest.h>

#include <regex>

#include "host_test_support.h"

namespace hosttest {
namespace {

std::string Example(const std::string &name) {
    return SourceDir() + "/examples/requests/" + name;
}

CommandResult Host(std::vector<std::string> args, const std::string &input = "") {
    args.insert(args.begin(), HostPath());
    return RunCommand(args, input);
}

// The output with the date in the title line replaced by "DATE".
std::string WithoutTitleDate(const std::string &text) {
    static const std::regex kTitleDate(
        R"(^([^\n]*) \([A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d{2}:\d{2}:\d{2} \d{4}\)\n)");
    return std::regex_replace(text, kTitleDate, "$1 (DATE)\n",
                              std::regex_constants::format_first_only);
}

const char *const kDetailTable =
    "Sample Age Detail (DATE)\n"
    "# | Name      | FirstName | LastName |  Age\n"
    "--+-----------+-----------+----------+-----\n"
    "1 | Dalkah    | Tamsor    | Quellin  | 2001\n"
    "2 | Delmor    | Delmor    | Farrowby |   35\n"
    "3 | QRT       | Kestrin   | Vollum   |   92\n"
    "4 | Volvo     | Volvo     | S80      |    3\n"
    "5 | USA       | United    | States   |  212\n"
    "6 | Everybody | Every     | Body     |  342\n"
    "7 | Everybody | Every     | Body - 2 |  342\n"
    "(7 rows)\n";

TEST(Query, PrintsTheSampleTablesAsTextTables) {
    const CommandResult detail = Host({"query", "Sample Age Detail"});
    EXPECT_EQ(detail.exitCode, 0) << detail.err;
    EXPECT_EQ(WithoutTitleDate(detail.out), kDetailTable);
    EXPECT_EQ(detail.err, "");  // the plug-in's trace is not shown

    const CommandResult age = Host({"query", "Sample Age"});
    EXPECT_EQ(age.exitCode, 0);
    EXPECT_EQ(WithoutTitleDate(age.out),
              "Sample Age (DATE)\n"
              " # | Name                           |  Age\n"
              "---+--------------------------------+-----\n"
              " 1 | Dalkah *                       | 2001\n"
              " 2 | Delmor *                       |   35\n"
              " 3 | QRT *                          |   92\n"
              " 4 | Volvo                          |    3\n"
              " 5 | USA                            |  212\n"
              " 6 | <XML>&<safe's>\"test\"           |    5\n"
              " 7 | <XML>&<safe>                   |    5\n"
              " 8 | Name unique *                  |    0\n"
              " 9 | Name withinset Delmor,QRT *    |    0\n"
              "10 | Age withinset 1-10,35,2001 *   |    0\n"
              "11 | Age notinset 1-10,35,2001 *    |    0\n"
              "12 | notlike D* *                   |    0\n"
              "13 | like D* *                      |    0\n"
              "14 | like QRT *                     |    0\n"
              "15 | like *e* *                     |    0\n"
              "16 | like *h *                      |    0\n"
              "17 | like D* && (10 > Age < 1000) * |    0\n"
              "18 | Everybody *                    |  342\n"
              "(18 rows)\n"
              "* has a link: show it with --follow ROW:COLUMN\n");
}

TEST(Query, FiltersChoosesColumnsAndEscapesValues) {
    const CommandResult filtered = Host({"query", "Sample Age", "--where", "Name LIKE D*",
                                         "--where", "Age > 100", "--or", "--columns", "Age"});
    EXPECT_EQ(filtered.exitCode, 0);
    EXPECT_EQ(WithoutTitleDate(filtered.out),
              "Sample Age (DATE)\n"
              "# |  Age\n"
              "--+-----\n"
              "1 | 2001\n"
              "2 |   35\n"
              "3 |  212\n"
              "4 |  342\n"
              "(4 rows)\n");

    // Every XML special character in a value reaches the plug-in unharmed.
    const CommandResult special =
        Host({"query", "Sample Age", "--where", "Name equal <XML>&<safe's>\"test\""});
    EXPECT_EQ(special.exitCode, 0);
    EXPECT_EQ(WithoutTitleDate(special.out),
              "Sample Age (DATE)\n"
              "# | Name                 | Age\n"
              "--+----------------------+----\n"
              "1 | <XML>&<safe's>\"test\" |   5\n"
              "(1 row)\n");
    // --xml shows the document itself.
    const CommandResult xml =
        Host({"query", "Sample Age Detail", "--where", "Age LESS 10", "--xml"});
    EXPECT_EQ(xml.exitCode, 0);
    EXPECT_TRUE(WellFormed(xml.out));
    EXPECT_NE(xml.out.find("<RECS>\n    <REC>\n      <VAL>Volvo</VAL>\n      <VAL>Volvo</VAL>\n"
                           "      <VAL>S80</VAL>\n      <VAL>3</VAL>\n    </REC>\n  </RECS>\n"),
              std::string::npos)
        << xml.out;

    // So do backslashes, which the plug-in's reader would otherwise turn into
    // control characters: the execution record shows the atom as given.
    TempDir dir;
    const std::string events = dir.Path() + "/events.json";
    const CommandResult backslash =
        Host({"query", "Sample Age", "--where", "Name EQUAL C:\\new\\table", "--events", events});
    EXPECT_EQ(backslash.exitCode, 0);
    EXPECT_NE(ReadFile(events).find("\"Filters\":\"'Name' EQUAL 'C:\\\\new\\\\table'\""),
              std::string::npos)
        << ReadFile(events);
}

TEST(Query, FollowsTheLinkOfACell) {
    const CommandResult followed = Host({"query", "Sample Age", "--follow", "2:Name"});
    EXPECT_EQ(followed.exitCode, 0) << followed.err;
    EXPECT_EQ(WithoutTitleDate(followed.out),
              "Sample Age Detail (DATE)\n"
              "# | Name   | FirstName | LastName | Age\n"
              "--+--------+-----------+----------+----\n"
              "1 | Delmor | Delmor    | Farrowby |  35\n"
              "(1 row)\n");
    // The grouped link: (Name LIKE D*) AND (Age GREATER 10 AND Age LESS 100).
    const CommandResult grouped = Host({"query", "Sample Age", "--follow", "17:1"});
    EXPECT_EQ(grouped.exitCode, 0);
    EXPECT_EQ(WithoutTitleDate(grouped.out),
              "Sample Age Detail (DATE)\n"
              "# | Name   | FirstName | LastName | Age\n"
              "--+--------+-----------+----------+----\n"
              "1 | Delmor | Delmor    | Farrowby |  35\n"
              "(1 row)\n");
    const CommandResult everybody = Host({"query", "Sample Age", "--follow", "18:name"});
    EXPECT_EQ(WithoutTitleDate(everybody.out), kDetailTable);

    const CommandResult noLink = Host({"query", "Sample Age", "--follow", "4:Name"});
    EXPECT_EQ(noLink.exitCode, 1);
    EXPECT_EQ(noLink.err, "korvane-host: --follow: the cell 4:Name has no link\n");
    const CommandResult outOfRange = Host({"query", "Sample Age", "--follow", "99:Name"});
    EXPECT_EQ(outOfRange.exitCode, 1);
    EXPECT_EQ(outOfRange.err,
              "korvane-host: --follow: row 99 is out of range (the table has 18)\n");
}

TEST(Query, ReportsErrorsAndBadUsage) {
    const CommandResult unknown = Host({"query", "No Such Table"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(unknown.out, "error 404: NorloTessel: Unknown Method\n  No Such Table\n");

    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const Case cases[] = {
        {{"query"}, "korvane-host: query needs exactly one TABLE (quote names with blanks)\n"},
        {{"query", "Sample Age", "--where", "Name D*"},
         "korvane-host: bad --where 'Name D*' (expected \"COLUMN OPERATOR VALUE\", for example "
         "\"Name LIKE D*\")\n"},
        {{"query", "Sample Age", "--follow", "x"},
         "korvane-host: bad --follow 'x' (expected ROW:COLUMN, for example 1:Name)\n"},
        {{"query", "Sample Age", "--where"},
         "korvane-host: option '--where' needs a value (see korvane-host query --help)\n"},
    };
    for (const Case &c : cases) {
        const CommandResult run = Host(c.args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err, c.error);
        EXPECT_EQ(run.out, "");
    }
    const CommandResult help = Host({"query", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: korvane-host query TABLE [options]\n", 0), 0u);
}

TEST(Invoke, PrintsTheResponseBytesAndAnswersWithTheResult) {
    TempDir dir;
    const std::string events = dir.Path() + "/events.json";
    const CommandResult bare = Host({"invoke", "--trace-file", "/dev/null", "--events", events,
                                     Example("sample-age-detail.xml")});
    EXPECT_EQ(bare.exitCode, 0) << bare.err;
    EXPECT_EQ(bare.err, "");
    EXPECT_TRUE(WellFormed(bare.out));
    EXPECT_EQ(bare.out.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                             "<RESPONSE_TABLE>\n  <TBL_INFO>\n    <NAME>Sample Age Detail</NAME>\n",
                             0),
              0u);
    EXPECT_NE(ReadFile(events).find("\"Method\":\"Sample Age Detail\""), std::string::npos);

    // Standard input, and raw mode with the plug-in's own HTTP header.
    const CommandResult raw =
        Host({"invoke", "--raw", "--trace-file", "/dev/null", "--events", events, "-"},
             ReadFile(Example("sample-age-detail.xml")));
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
        Host({"invoke", "--trace-file", "/dev/null", "--events", events, "-"},
             "<tesselrequest credentials=\"AAAA\" signature=\"AAAA\"><select><from>"
             "<db name=\"Sample Age\"/></from></select></tesselrequest>");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "korvane-host: the plug-in answered 401 without a response\n");

    const CommandResult missing = Host({"invoke", dir.Path() + "/missing.xml"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err.rfind("korvane-host: cannot open " + dir.Path() + "/missing.xml", 0), 0u);
    EXPECT_EQ(Host({"invoke"}).exitCode, 2);
    EXPECT_EQ(Host({}).exitCode, 2);
}

}  // namespace
}  // namespace hosttest
