// The sample tables read back as a portal reads them: each drill-down link of
// "Sample Age" is followed, and a few hand-written selects are run.
#include <map>

#include "support/harness.h"

namespace {

using Rows = std::vector<std::vector<nt::Element>>;

// The VAL elements of a table response, record by record.
Rows ReadRows(const std::string &response) {
    Rows rows;
    for (nt::Element &e : nt::ReadXml(response)) {
        if (e.name == "REC") rows.emplace_back();
        if (e.name == "VAL" && !rows.empty()) rows.back().push_back(std::move(e));
    }
    return rows;
}

std::vector<std::string> FirstColumn(const Rows &rows) {
    std::vector<std::string> names;
    for (const auto &row : rows) names.push_back(row.empty() ? "" : row[0].text);
    return names;
}

std::string Select(const std::string &table, const std::string &output, const std::string &where) {
    return "<tesselrequest><select><output>" + output + "</output><from><db name=\"" + table +
           "\"/></from><where>" + where + "</where></select></tesselrequest>";
}

using Names = std::vector<std::string>;

TEST(SampleTables, LinksAndSelectsGiveTheirRows) {
    nt::Host host;
    ASSERT_EQ(host.Initialize(), 0);
    for (const char *form : {"sample-age.xml", "sample-age.soap.xml"}) {
        SCOPED_TRACE(form);
        const Rows age = ReadRows(
            host.Invoke(nt::ReadFile(nt::SourcePath("examples/requests/") + form)).response);
        ASSERT_EQ(age.size(), 18u);
        EXPECT_EQ(age[5][0].text, "<XML>&<safe's>\"test\"");
        EXPECT_EQ(age[6][0].text, "<XML>&<safe>");
        const Names all = {"Dalkah", "Delmor", "QRT", "Volvo", "USA", "Everybody", "Everybody"};
        const std::map<std::size_t, Names> linked = {
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
        for (std::size_t row = 0; row < age.size(); ++row) {
            SCOPED_TRACE(age[row][0].text);
            const std::string link = age[row][0].Attribute("LINK");
            EXPECT_EQ(age[row][1].Attribute("LINK"), "");
            const auto it = linked.find(row);
            ASSERT_EQ(link.empty(), it == linked.end());
            if (!link.empty()) {
                EXPECT_EQ(FirstColumn(ReadRows(host.Invoke(link).response)), it->second);
            }
        }
    }
    const std::string greater =
        "<predicat><target name=\"Age\"/><compare oper=\"GREATER\"><atom "
        "value=\"100\"/></compare></predicat>";
    const struct {
        std::string request;
        Names names;
    } selects[] = {
        {Select("Sample Age Detail", "<col><target name=\"LastName\"/></col>", greater),
         {"Quellin", "States", "Body", "Body - 2"}},
        {Select("Sample Age", "<all/>",
                "<predicat><target name=\"Name\"/><compare oper=\"EQUAL\"><atom "
                "value=\"Volvo\"/></compare></predicat>"),
         {"Volvo"}},
        // Only the row that each method appends value by value escapes "norecords".
        {Select("Sample Age Detail", "<norecords/>", ""), {"Dalkah"}},
        {Select("Sample Age", "<norecords/>", greater), {"Dalkah"}},
    };
    for (const auto &s : selects) {
        SCOPED_TRACE(s.request);
        EXPECT_EQ(FirstColumn(ReadRows(host.Invoke(s.request).response)), s.names);
    }
}

}  // namespace
