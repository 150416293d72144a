// korvane-host from a shell, on a terminal and over HTTP: golden transcripts
// of command lines and requests with their whole outputs (help and usage
// errors come from CLI11).
#include <gtest/gtest.h>

#include <fstream>

#include "host_test_support.h"

namespace hosttest {
namespace {

// Replays tests/data/host/NAME; the actual transcript is left in the build
// directory for review when it differs.
void ExpectTranscript(const std::string &name) {
    const std::string expected = Golden(name);
    const std::string actual = Transcript(expected);
    EXPECT_EQ(actual, expected);
    if (actual != expected) std::ofstream(std::string(NT_BINARY_DIR) + "/" + name) << actual;
}

TEST(Transcript, CommandLinesHttpAndQueries) {
    for (const char *name : {"commands.txt", "http.txt", "query.txt"}) ExpectTranscript(name);
}

}  // namespace
}  // namespace hosttest
