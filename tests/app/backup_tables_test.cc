// The backup server tables through Dorvex, each over a state document of its
// own (tests/data/app): whole responses, trace lines and Pellog lines, and the
// response of every drill-down link followed from them, against golden files.
#include <cstdlib>
#include <fstream>

#include "support/harness.h"

namespace {

const std::string kStates = nt::SourcePath("tests/data/app/");

// Points Pellog at the test's file while alive; leaves no state file named.
struct Environment {
    explicit Environment(const nt::TempCwd &dir) {
        ::setenv("PELLOG_FILE", dir.Path("pellog.log").c_str(), 1);
    }
    ~Environment() { ::unsetenv("NORLO_SERVER_STATE"), ::unsetenv("PELLOG_FILE"); }
};

TEST(BackupTables, CasesGiveTheirGoldenOutputs) {
    const nt::TempCwd dir;
    const Environment environment(dir);
    nt::Host host;
    ASSERT_EQ(host.Initialize(), 0);
    std::ifstream cases(kStates + "cases.txt");
    std::size_t traced = 0, count = 0;
    for (std::string line; std::getline(cases, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> field;
        for (std::size_t from = 0, tab = 0; tab != std::string::npos; from = tab + 1)
            field.push_back(line.substr(from, (tab = line.find('\t', from)) - from));
        ASSERT_EQ(field.size(), 5u) << line;
        SCOPED_TRACE(field[0]);
        ::setenv("NORLO_SERVER_STATE", (kStates + field[1]).c_str(), 1);
        host.TakeLog();
        const nt::Reply reply = host.Invoke(nt::Select(field[2], field[4], field[3]));
        const std::string pellog = nt::ReadFile(dir.Path("pellog.log")), log = host.TakeLog();
        EXPECT_TRUE(nt::MatchesGolden("golden/backup/" + field[0] + ".txt",
                                      reply.response + "-- trace\n" + log + "\n-- pellog\n" +
                                          pellog.substr(traced) +
                                          nt::FollowLinks(host, reply.response)));
        traced = nt::ReadFile(dir.Path("pellog.log")).size();
        ++count;
    }
    EXPECT_EQ(count, 34u);
}

}  // namespace
