// The result table's operations: table information, error block, columns,
// records and their warnings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "result_helpers.h"
#include "support/test_host.h"

namespace {

using restest::LogLines;

std::vector<std::string> Texts(const tslRecord &record) {
    std::vector<std::string> texts;
    for (const tslValue &value : record.values) texts.emplace_back(value.text.view());
    return texts;
}

std::vector<std::string> Links(const tslRecord &record) {
    std::vector<std::string> links;
    for (const tslValue &value : record.values) links.emplace_back(value.link.view());
    return links;
}

TEST(ResultTable, InfoChartAndErrorBlock) {
    tslData data("V02.0", "NorloTessel", "Dorvex", "");
    EXPECT_FALSE(data.SetTableInfo(nullptr, "d"));
    EXPECT_FALSE(data.SetTableInfo("n", nullptr));
    EXPECT_TRUE(data.m_tableName.empty());
    EXPECT_TRUE(data.SetTableInfo("Name", "Date\n"));
    EXPECT_EQ(data.m_tableName, std::string_view("Name"));
    EXPECT_EQ(data.m_tableDate, std::string_view("Date\n"));

    EXPECT_EQ(data.m_y, std::vector<int32_t>{0});
    data.m_y.push_back(7);
    EXPECT_TRUE(data.SetChartInfo(1, -2, 3, 4));
    EXPECT_EQ(data.m_x, 1);
    EXPECT_EQ(data.m_y, std::vector<int32_t>{-2});
    EXPECT_EQ(data.m_xTrend, 3);
    EXPECT_EQ(data.m_yTrend, std::vector<int32_t>{4});

    EXPECT_TRUE(data.SetError(0, nullptr, nullptr));
    EXPECT_TRUE(data.SetError(404, "NorloTessel: Unknown Method", "Some Method"));
    EXPECT_EQ(data.GetErrorCode(), 404);
    EXPECT_EQ(data.m_errorDescription, std::string_view("NorloTessel: Unknown Method"));
    ASSERT_EQ(data.m_troubleshooting.size(), 1u);
    EXPECT_TRUE(data.SetError(404, "again", "Other"));
    ASSERT_EQ(data.m_troubleshooting.size(), 2u);
    EXPECT_EQ(data.m_troubleshooting[1], std::string_view("Other"));
    EXPECT_TRUE(data.SetError(0, nullptr, nullptr));
    EXPECT_EQ(data.GetErrorCode(), 0);
    EXPECT_TRUE(data.m_errorDescription.empty());
    EXPECT_TRUE(data.m_troubleshooting.empty());
}

TEST(ResultTable, ColumnsAndTheirWarnings) {
    tslData data("V02.0", "NorloTessel", "Dorvex", "");
    std::vector<bool> results;
    const std::vector<std::string> log = LogLines([&] {
        results.push_back(data.AddColumn("Unknown", TYPE_UNKNOWN));
        results.push_back(data.AddColumn("Last", TYPE_LAST));
        results.push_back(data.AddColumn("Negative", -1));
        results.push_back(data.AddColumn(nullptr, TYPE_STRING));
        results.push_back(data.AddColumn("Boolean", TYPE_BOOLEAN));
        results.push_back(data.AddColumn("Bitmask", TYPE_BITMASK));
        results.push_back(data.AddColumn("Bitmask", TYPE_STRING));  // duplicates allowed
    });
    EXPECT_EQ(results, (std::vector<bool>{false, false, false, false, true, true, true}));
    EXPECT_EQ(log, std::vector<std::string>(4, "tslData::AddColumn: bad name/type"));
    ASSERT_EQ(data.m_columns.size(), 3u);
    EXPECT_EQ(data.m_columns[0].name, std::string_view("Boolean"));
    EXPECT_EQ(data.m_columns[1].type, TYPE_BITMASK);
    EXPECT_TRUE(data.m_columns[2].output);
    EXPECT_TRUE(data.m_columns[2].tooltip.empty());

    // The warning is written at level 2.
    testhost::StderrCapture capture;
    capture.Start();
    data.AddColumn("x", 0);
    const std::string raw = capture.Stop();
    EXPECT_EQ(raw.substr(0, 7), "WARN:  ");
}

TEST(ResultTable, RecordsFromValueLists) {
    tslData data("V02.0", "NorloTessel", "Dorvex", "");
    data.SetFiltering(true);
    data.AddColumn("A", TYPE_STRING);
    data.AddColumn("B", TYPE_STRING);
    data.AddColumn("C", TYPE_STRING);
    data.AddColumn("D", TYPE_STRING);
    std::vector<bool> results;
    const std::vector<std::string> log = LogLines([&] {
        results.push_back(data.AddRecord(nullptr, "ignored", nullptr));
        results.push_back(data.AddLinkRecord(nullptr, "link", "x", nullptr, nullptr));
        results.push_back(data.AddRecord("a", "b", nullptr));
        results.push_back(data.AddLinkRecord("a", "la", "b", nullptr, "c", "lc", nullptr));
        results.push_back(data.AddLinkRecord("only", nullptr, nullptr));
    });
    EXPECT_EQ(results, (std::vector<bool>{false, false, true, true, true}));
    EXPECT_EQ(log, (std::vector<std::string>{"tslData::AddRecord: bad input val",
                                             "tslData::AddLinkRecord: bad input val"}));
    ASSERT_EQ(data.m_records.size(), 3u);
    EXPECT_EQ(Texts(*data.m_records[0]), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Links(*data.m_records[0]), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(Texts(*data.m_records[1]), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(Links(*data.m_records[1]), (std::vector<std::string>{"la", "", "lc"}));
    EXPECT_EQ(Texts(*data.m_records[2]), (std::vector<std::string>{"only"}));

    // A record the filter refuses is dropped without a message.
    data.m_predicates.emplace_back(LOGIC_NOLOGIC, 0, tslString("A"), OPER_EQUAL, tslString("a"), 0);
    std::vector<std::string> quiet = LogLines([&] { EXPECT_FALSE(data.AddRecord("b", nullptr)); });
    EXPECT_TRUE(quiet.empty());
    EXPECT_EQ(data.m_records.size(), 3u);
}

TEST(ResultTable, RecordsBuiltValueByValue) {
    tslData data("V02.0", "NorloTessel", "Dorvex", "");
    data.SetFiltering(true);
    data.AddColumn("Name", TYPE_STRING);
    data.AddColumn("Age", TYPE_UINT32);
    std::unique_ptr<tslRecord> record = data.NewRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(Texts(*record), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(data.SetRecordValue(*record, "Age", "2001", nullptr));
    EXPECT_TRUE(data.SetRecordValue(*record, "Name", "Dalkah", "link"));
    EXPECT_FALSE(data.SetRecordValue(*record, "name", "x", nullptr));  // case matters
    EXPECT_FALSE(data.SetRecordValue(*record, nullptr, "x", nullptr));
    EXPECT_EQ(Texts(*record), (std::vector<std::string>{"Dalkah", "2001"}));
    EXPECT_EQ(Links(*record), (std::vector<std::string>{"link", ""}));
    EXPECT_TRUE(data.SetRecordValue(*record, "Name", nullptr, nullptr));
    EXPECT_EQ(Texts(*record), (std::vector<std::string>{"", "2001"}));
    EXPECT_EQ(Links(*record), (std::vector<std::string>{"", ""}));

    // A record made before further columns were added reaches them too.
    data.AddColumn("Late", TYPE_STRING);
    EXPECT_TRUE(data.SetRecordValue(*record, "Late", "z", nullptr));
    EXPECT_EQ(Texts(*record), (std::vector<std::string>{"", "2001", "z"}));
    EXPECT_TRUE(data.AppendRecord(std::move(record)));
    EXPECT_FALSE(data.AppendRecord(nullptr));
    ASSERT_EQ(data.m_records.size(), 1u);

    // Without columns nothing can be set.
    tslData empty("V02.0", "NorloTessel", "Dorvex", "");
    std::unique_ptr<tslRecord> none = empty.NewRecord();
    EXPECT_TRUE(none->values.empty());
    EXPECT_FALSE(empty.SetRecordValue(*none, "Name", "x", nullptr));

    // A failing record is destroyed.
    data.m_predicates.emplace_back(LOGIC_NOLOGIC, 0, tslString("Age"), OPER_GREATER,
                                   tslString("10"), 0);
    std::unique_ptr<tslRecord> young = data.NewRecord();
    data.SetRecordValue(*young, "Age", "9", nullptr);
    EXPECT_FALSE(data.AppendRecord(std::move(young)));
    EXPECT_EQ(data.m_records.size(), 1u);
}

}  // namespace
