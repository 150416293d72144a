// Many host threads invoking at once: every response is the one a lone invoke
// gives, byte for byte, and every request with a table sends exactly one whole
// event. Meant to run under ThreadSanitizer as well.
#include <atomic>
#include <thread>

#include "support/harness.h"

namespace {

TEST(Concurrency, EightThreadsGiveTheResponsesOfLoneInvokes) {
    std::vector<std::string> requests;
    for (const char *name : {"sample-age.xml", "sample-age-detail.soap.xml", "define.xml",
                             "norlo-server-users.xml", "norlo-server-organization-tree.soap.xml",
                             "norlo-server-message-log.xml", "norlo-server-configuration.xml",
                             "norlo-server-default-configuration.soap.xml", "describe.soap.xml"})
        requests.push_back(nt::ReadFile(nt::SourcePath("examples/requests/") + name));
    nt::Host host;
    ASSERT_EQ(host.Initialize(), 0);
    std::vector<std::string> expected;
    for (const std::string &request : requests) expected.push_back(host.Invoke(request).response);
    host.TakeEvents();

    constexpr int kThreads = 8, kInvokes = 100;
    std::atomic<int> mismatches{0}, withTable{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kInvokes; ++i) {
                const std::size_t which = static_cast<std::size_t>(t + i) % requests.size();
                const nt::Reply reply = host.Invoke(requests[which]);
                if (reply.result != 0 || reply.freed != 0 || reply.response != expected[which])
                    ++mismatches;
                if (which != requests.size() - 1) ++withTable;  // describe names no table
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    const std::vector<std::string> events = host.TakeEvents();
    EXPECT_EQ(static_cast<int>(events.size()), withTable.load());
    int whole = 0;
    for (const std::string &event : events) {
        const nt::Fields fields = nt::EventFields(event);
        whole += fields.size() >= 14 && fields.back().first == "OS";
    }
    EXPECT_EQ(whole, withTable.load());
}

}  // namespace
