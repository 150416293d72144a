// Many host threads invoking at once: every response is the one a lone invoke
// gives, and every request with a table is reported by exactly one event.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "response_table.h"
#include "support/test_host.h"

namespace {

// The DATE element holds the current time; everything else must match exactly.
std::string WithoutDate(const std::string &response) {
    static const std::regex date("<DATE>[^<]*</DATE>");
    return std::regex_replace(response, date, "<DATE/>");
}

TEST(Concurrency, EightThreadsOfMixedInvokesGiveExactResponsesAndOneEventEach) {
    testhost::TestHost host("NorloTessel", "Dorvex");
    ASSERT_TRUE(host.Load()) << host.LoadError();
    ASSERT_EQ(host.Initialize(""), 0);

    const auto select = [](const std::string &table, const std::string &where) {
        return "<?xml version=\"1.0\"?><tesselrequest><sponsor>S</sponsor><select><output><all/>"
               "</output><from><db name=\"" +
               table + "\"/></from><where>" + where + "</where></select></tesselrequest>";
    };
    const std::vector<std::string> requests = {
        select("Sample Age", ""),
        select("Sample Age Detail",
               "<predicat><target name=\"Name\"/><compare oper=\"UNIQUE\">"
               "<atom value=\"\"/></compare></predicat>"),
        select("Sample Age Detail",
               "<predicat><target name=\"Age\"/><compare oper=\"WITHINSET\">"
               "<atom value=\"1-10,35\"/></compare></predicat>"),
        select("Define", ""),
        select("Unknown table", ""),
        "<?xml version=\"1.0\"?><tesselrequest><admin action=\"describe\"/></tesselrequest>",
    };
    std::vector<std::string> expected;
    for (const std::string &request : requests) {
        const testhost::InvokeResult r = host.Invoke(request);
        ASSERT_EQ(r.result, 0);
        expected.push_back(WithoutDate(r.response));
    }
    host.ClearCalls();

    constexpr int kThreads = 8;
    constexpr int kInvokes = 200;
    std::atomic<int> mismatches{0};
    std::atomic<int> withTable{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kInvokes; ++i) {
                const std::size_t which = static_cast<std::size_t>(t + i) % requests.size();
                const testhost::InvokeResult r = host.Invoke(requests[which]);
                if (r.result != 0 || WithoutDate(r.response) != expected[which]) ++mismatches;
                if (which != requests.size() - 1) ++withTable;  // describe names no table
            }
        });
    }
    for (std::thread &thread : threads) thread.join();

    EXPECT_EQ(mismatches.load(), 0);
    const std::vector<std::string> events = host.Events();
    EXPECT_EQ(static_cast<int>(events.size()), withTable.load());
    // Every event is whole: it parses and carries its standard fields.
    int whole = 0;
    for (const std::string &event : events) {
        const auto fields = apptest::ReadEvent(event);
        if (fields.size() >= 14 && fields.back().first == "OS") ++whole;
    }
    EXPECT_EQ(whole, withTable.load());
}

}  // namespace
