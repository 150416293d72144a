// A process of its own, so that these are the first calls of the configuration
// methods since the plug-in was loaded: each method's first call reads the
// configurations as the library holds them, failed or not, and every later
// call refreshes the collection and each configuration it reads.
#include <cstdlib>

#include "halcyra/halcyra_server.h"
#include "support/harness.h"

namespace {

TEST(RefreshFlags, RefreshOnlyFromTheSecondCallOn) {
    const std::string state = nt::SourcePath("tests/data/app/configurations.xml");
    const struct {
        const char *table, *firstState;
        unsigned long refreshes;  // the collection and each configuration read
    } methods[] = {{"Norlo Server - Configuration", state.c_str(), 1 + 5},
                   {"Norlo Server - Default Configuration", "/nonexistent.xml", 1 + 1}};
    for (const auto &method : methods) {
        SCOPED_TRACE(method.table);
        nt::Host host;  // a new plug-in object each time: the flags are the process's
        ASSERT_EQ(host.Initialize(), 0);
        const std::string request = nt::Select(method.table);
        for (int call = 0; call < 3; ++call) {
            ::setenv("NORLO_SERVER_STATE", call == 0 ? method.firstState : state.c_str(), 1);
            const unsigned long before = halcyra::RefreshCount();
            EXPECT_EQ(host.Invoke(request).result, 0);
            EXPECT_EQ(halcyra::RefreshCount() - before, call == 0 ? 0 : method.refreshes) << call;
        }
    }
    ::unsetenv("NORLO_SERVER_STATE");
}

}  // namespace
