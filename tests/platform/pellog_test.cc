// Pellog: each trace is one whole line of the file PELLOG_FILE names, kept open.
#include "pellog/pellog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>

#include "support/harness.h"

namespace {

TEST(Pellog, EachTraceIsOneWholeLine) {
    const nt::TempCwd dir;
    const std::string first = dir.Path("first.log"), second = dir.Path("second.log");
    ::setenv("PELLOG_FILE", first.c_str(), 1);
    pllStartUpTracing(0);
    const std::string big(10000, 'x');
    pllTrace("%s", big.c_str());
    pllTrace("a\nb\r\\c%c|%s|%d", 1, "é\n", -7);
    pllTrace("%ls", L"\u20ac");  // not expandable in the C locale: nothing
    pllTrace("%s", "");
    EXPECT_EQ(nt::ReadFile(first), big + "\na\\nb\\r\\\\c\\x01|é\\n|-7\n\n");
    EXPECT_EQ(nt::OpenCount(first), 1);
    // The variable counts as it stood at the last start-up.
    ::setenv("PELLOG_FILE", second.c_str(), 1);
    pllTrace("still %s", "first");
    pllStartUpTracing(0);
    pllTrace("then %s", "here");
    EXPECT_EQ(nt::OpenCount(first), 0);
    EXPECT_EQ(nt::OpenCount(second), 1);
    ::unsetenv("PELLOG_FILE");
    pllStartUpTracing(0);
    pllTrace("nowhere");
    EXPECT_EQ(nt::OpenCount(second), 0);
    EXPECT_EQ(nt::ReadFile(first), big + "\na\\nb\\r\\\\c\\x01|é\\n|-7\n\nstill first\n");
    EXPECT_EQ(nt::ReadFile(second), "then here\n");
}

}  // namespace
