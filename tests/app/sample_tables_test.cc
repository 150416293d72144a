// "Sample Age", "Sample Age Detail", "Define" and "describe" end to end
// through Dorvex: every drill-down link is followed as a portal would.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "response_table.h"
#include "support/test_host.h"

using apptest::ReadTable;
using apptest::Table;
using testhost::TestHost;

namespace {

std::string Select(const std::string &table, const std::string &where = "", bool envelope = false) {
    std::string body =
        "<tesselrequest version=\"2.0\"><sponsor version=\"2.0\">Portal</sponsor>"
        "<portal location=\"p\"/><select><output><all/></output><from><db name=\"" +
        table + "\"/></from><where>" + where + "</where></select></tesselrequest>";
    if (!envelope) return "<?xml version=\"1.0\"?>" + body;
    return "<?xml version=\"1.0\"?><soap:Envelope "
           "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>" +
           body + "</soap:Body></soap:Envelope>";
}

class SampleTables : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(host.Load()) << host.LoadError();
        ASSERT_EQ(host.Initialize(""), 0);
    }
    Table Run(const std::string &request) {
        testhost::InvokeResult r = host.Invoke(request);
        EXPECT_EQ(r.result, 0);
        EXPECT_TRUE(r.gotResponse);
        Table table = ReadTable(r.response);
        EXPECT_TRUE(table.wellFormed) << r.response;
        return table;
    }
    TestHost host{"NorloTessel", "Dorvex"};
};

TEST_F(SampleTables, EveryLinkOfSampleAgeSelectsTheDetailRowsItNames) {
    const Table age = Run(Select("Sample Age"));
    ASSERT_EQ(age.name, "Sample Age");
    ASSERT_EQ(age.columns, (std::vector<std::string>{"Name", "Age"}));
    ASSERT_EQ(age.types, (std::vector<std::string>{"string", "uint32"}));
    ASSERT_EQ(age.rows.size(), 18u);

    // Rows 6 and 7 come back as the texts they were, through the escaping.
    EXPECT_EQ(age.rows[5][0].text, "<XML>&<safe's>\"test\"");
    EXPECT_EQ(age.rows[6][0].text, "<XML>&<safe>");
    EXPECT_EQ(age.rows[0][1].text, "2001");

    const std::vector<std::string> all = {"Dalkah", "Delmor",    "QRT",      "Volvo",
                                          "USA",    "Everybody", "Everybody"};
    const std::map<std::size_t, std::vector<std::string>> expected = {
        {0, {"Dalkah"}},
        {1, {"Delmor"}},
        {2, {"QRT"}},
        {7, {"Dalkah", "Delmor", "QRT", "Volvo", "USA", "Everybody"}},
        {8, {"Delmor", "QRT"}},
        {9, {"Dalkah", "Delmor", "Volvo"}},
        {10, {"QRT", "USA", "Everybody", "Everybody"}},
        {11, {"QRT", "Volvo", "USA", "Everybody", "Everybody"}},
        {12, {"Dalkah", "Delmor"}},
        {13, {"QRT"}},
        {14, {"Delmor", "Everybody", "Everybody"}},
        {15, {"Dalkah"}},
        {16, {"Delmor"}},
        {17, all},
    };
    for (std::size_t row = 0; row < age.rows.size(); ++row) {
        SCOPED_TRACE("row " + std::to_string(row + 1) + " " + age.rows[row][0].text);
        EXPECT_TRUE(age.rows[row][1].link.empty()) << "only names carry links";
        const auto it = expected.find(row);
        if (it == expected.end()) {
            EXPECT_TRUE(age.rows[row][0].link.empty());
            continue;
        }
        ASSERT_FALSE(age.rows[row][0].link.empty());
        const Table detail = Run(age.rows[row][0].link);
        EXPECT_EQ(detail.name, "Sample Age Detail");
        EXPECT_EQ(detail.FirstColumn(), it->second);
    }
}

TEST_F(SampleTables, DetailRowsAndColumnSelection) {
    Table detail = Run(Select("Sample Age Detail"));
    ASSERT_EQ(detail.rows.size(), 7u);
    // Row 1 is built value by value in another order than its columns.
    EXPECT_EQ(detail.rows[0][0].text, "Dalkah");
    EXPECT_EQ(detail.rows[0][1].text, "Tamsor");
    EXPECT_EQ(detail.rows[0][2].text, "Quellin");
    EXPECT_EQ(detail.rows[0][3].text, "2001");
    EXPECT_EQ(detail.rows[6][2].text, "Body - 2");

    const std::string columns =
        "<?xml version=\"1.0\"?><tesselrequest><select><output><col><target name=\"LastName\"/>"
        "</col></output><from><db name=\"Sample Age Detail\"/></from><where><predicat><target "
        "name=\"Age\"/><compare oper=\"GREATER\"><atom value=\"100\"/></compare></predicat>"
        "</where></select></tesselrequest>";
    detail = Run(columns);
    EXPECT_EQ(detail.columns, (std::vector<std::string>{"LastName"}));
    EXPECT_EQ(detail.FirstColumn(),
              (std::vector<std::string>{"Quellin", "States", "Body", "Body - 2"}));

    const Table volvo = Run(Select("Sample Age",
                                   "<predicat><target name=\"Name\"/><compare "
                                   "oper=\"EQUAL\"><atom value=\"Volvo\"/></compare>"
                                   "</predicat>"));
    ASSERT_EQ(volvo.rows.size(), 1u);
    EXPECT_EQ(volvo.rows[0][1].text, "3");
}

TEST_F(SampleTables, LinksOfAnEnvelopedRequestAreEnvelopedToo) {
    testhost::InvokeResult r = host.Invoke(Select("Sample Age", "", true));
    ASSERT_EQ(r.result, 0);
    EXPECT_NE(
        r.response.find("<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/encoding/\"\n"
                        " xmlns=\"http://korvane.example/morvium/encoding/\">\n<soap:Body>\n"),
        std::string::npos);
    const Table age = ReadTable(r.response);
    ASSERT_EQ(age.rows.size(), 18u);
    const std::string &link = age.rows[0][0].link;
    EXPECT_NE(link.find("<soap:Envelope"), std::string::npos);
    EXPECT_EQ(link.find("transactionid"), std::string::npos);
    const Table detail = Run(link);
    EXPECT_EQ(detail.FirstColumn(), (std::vector<std::string>{"Dalkah"}));
}

TEST_F(SampleTables, DefineListsFourMethodsWhoseQueriesSelectThem) {
    const Table define = Run(Select("Define"));
    EXPECT_EQ(define.name, "Tessel Define");
    ASSERT_EQ(define.columns,
              (std::vector<std::string>{"Method", "XmlQuery", "Columns", "Filters"}));
    const std::vector<std::string> methods = {"Norlo Server - Configuration",
                                              "Norlo Server - Organization Tree",
                                              "Norlo Server - Users", "Norlo Server - Message Log"};
    const std::vector<std::string> required = {"XML=NLXConfigurations.xml",
                                               "XML=NLXOrganization.xml", "XML=NLXUsers.xml",
                                               "XML=NLXMessageLog.xml"};
    ASSERT_EQ(define.rows.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(methods[i]);
        ASSERT_EQ(define.rows[i].size(), 2u) << "rows carry two values only";
        const std::string &entry = define.rows[i][0].text;
        EXPECT_NE(entry.find("<MethodName version=\"11.1\">" + methods[i] + "</MethodName>"),
                  std::string::npos);
        EXPECT_NE(entry.find("<Required_Fields>" + required[i] + "</Required_Fields>"),
                  std::string::npos);
        EXPECT_NE(entry.find("<Folder_Path>Monitor:Backup:Norlo:&amp;host</Folder_Path>"),
                  std::string::npos);
        EXPECT_NE(entry.find("<ZornClass>VKN_Portal_Tessel</ZornClass>"), std::string::npos);
        // The query, sent back, selects that method's table.
        const std::string &query = define.rows[i][1].text;
        EXPECT_EQ(query.rfind("<tesselrequest version=\"2.0\">", 0), 0u) << query;
        testhost::InvokeResult back = host.Invoke(query);
        ASSERT_EQ(back.result, 0);
        const Table answer = ReadTable(back.response);
        EXPECT_TRUE(answer.wellFormed);
        if (answer.errorCode == 404) {
            // Until the backup server tables are served the dispatch names the table.
            EXPECT_EQ(answer.troubleshooting, (std::vector<std::string>{methods[i]}));
        } else {
            EXPECT_EQ(answer.name, methods[i]);
        }
    }
    // A predicate on the catalogue entry keeps only that row.
    const Table users = Run(Select("Define",
                                   "<predicat><target name=\"Method\"/><compare "
                                   "oper=\"LIKE\"><atom value=\"*Norlo Server - Users*\"/>"
                                   "</compare></predicat>"));
    ASSERT_EQ(users.rows.size(), 1u);
    EXPECT_NE(users.rows[0][0].text.find("XML=NLXUsers.xml"), std::string::npos);
}

TEST_F(SampleTables, DescribeUnknownAndOtherActions) {
    const std::string describe =
        "<?xml version=\"1.0\"?><tesselrequest version=\"2.0\"><sponsor version=\"2.0\">X</sponsor>"
        "<admin action=\"describe\"/><from><db name=\"whatever\"/></from></tesselrequest>";
    const Table d = Run(describe);
    EXPECT_EQ(d.applications, (std::vector<std::string>{"NorloTesselApp"}));
    EXPECT_EQ(d.sponsorClass, "VKN_X_Tessel");

    for (const char *unknown : {"define", "Norlo Server - Organization", "No such <table> & co"}) {
        SCOPED_TRACE(unknown);
        std::string name = unknown;
        std::string escaped;
        for (char c : name) escaped += c == '<' ? "&lt;" : c == '&' ? "&amp;" : std::string(1, c);
        const Table t = Run(Select(escaped));
        EXPECT_EQ(t.errorCode, 404);
        EXPECT_EQ(t.description, "NorloTessel: Unknown Method");
        EXPECT_EQ(t.troubleshooting, (std::vector<std::string>{name}));
        EXPECT_TRUE(t.rows.empty());
    }

    const Table none =
        Run("<?xml version=\"1.0\"?><tesselrequest><admin action=\"Describe\"/>"
            "</tesselrequest>");
    EXPECT_EQ(none.errorCode, 0);
    EXPECT_TRUE(none.applications.empty());
    EXPECT_TRUE(none.columns.empty());
    EXPECT_TRUE(none.rows.empty());
}

}  // namespace
