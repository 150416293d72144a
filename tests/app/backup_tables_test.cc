// The backup server tables through Dorvex, each over a state document of its
// own (tests/data/app): whole responses, trace lines and Pellog lines against
// golden files, and every drill-down link followed to the table it promises.
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

#include "support/harness.h"

namespace {

const std::string kStates = nt::SourcePath("tests/data/app/");

// Points the backup server library and Pellog at the test's files while alive.
struct Environment {
    explicit Environment(const nt::TempCwd &dir) {
        ::setenv("PELLOG_FILE", dir.Path("pellog.log").c_str(), 1);
    }
    ~Environment() { ::unsetenv("NORLO_SERVER_STATE"), ::unsetenv("PELLOG_FILE"); }
    void State(const std::string &name) const {
        ::setenv("NORLO_SERVER_STATE", (kStates + name).c_str(), 1);
    }
};

std::string Select(const std::string &table, const std::string &output = "<all/>",
                   const std::string &where = "") {
    return "<tesselrequest><select><output>" + output + "</output><from><db name=\"" + table +
           "\"/></from><where>" + where + "</where></select></tesselrequest>";
}

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
        environment.State(field[1]);
        host.TakeLog();
        const nt::Reply reply = host.Invoke(Select(field[2], field[3], field[4]));
        const std::string pellog = nt::ReadFile(dir.Path("pellog.log"));
        EXPECT_TRUE(nt::MatchesGolden("golden/backup/" + field[0] + ".txt",
                                      reply.response + "-- trace\n" + host.TakeLog() +
                                          "\n-- pellog\n" + pellog.substr(traced)));
        traced = pellog.size();
        ++count;
    }
    EXPECT_EQ(count, 24u);
}

using Row = std::vector<nt::Element>;

// The table's name and its VAL elements, record by record.
std::pair<std::string, std::vector<Row>> ReadTable(const std::string &response) {
    std::pair<std::string, std::vector<Row>> table;
    for (nt::Element &e : nt::ReadXml(response)) {
        if (e.name == "NAME") table.first = e.text;
        if (e.name == "REC") table.second.emplace_back();
        if (e.name == "VAL" && !table.second.empty()) table.second.back().push_back(std::move(e));
    }
    return table;
}

std::vector<std::string> Texts(const Row &row, std::size_t from = 0) {
    std::vector<std::string> texts;
    for (std::size_t i = from; i < row.size(); ++i) texts.push_back(row[i].text);
    return texts;
}

// The atom a link's request gives for `target`.
std::string Atom(const std::string &link, const std::string &target) {
    for (const auto &[name, atom] : nt::EventFields(link))
        if (name == target) return atom;
    return "<none>";
}

// Each organization link lists the members that the tree view shows under
// every organization of that name, with the attributes the users table gives
// them; each user link gives exactly that user's row of the users table; the
// default configuration's link gives its options.
TEST(BackupTables, EveryLinkGivesTheTableItPromises) {
    const nt::TempCwd dir;
    const Environment environment(dir);
    environment.State("tree.xml");
    nt::Host host;
    ASSERT_EQ(host.Initialize(), 0);
    std::map<std::pair<std::string, std::string>, std::vector<std::string>> users;
    for (const Row &row : ReadTable(host.Invoke(Select("Norlo Server - Users")).response).second)
        users[{row[1].text, row[0].text}] = Texts(row);
    std::map<std::string, std::vector<std::string>> members;
    std::vector<std::string> links;
    const auto tree = ReadTable(host.Invoke(Select("Norlo Server - Organization Tree")).response);
    for (const Row &row : tree.second) {
        members[row[0].text].push_back(row[1].text + row[2].text);
        for (const nt::Element &value : row)
            if (!value.Attribute("LINK").empty()) links.push_back(value.Attribute("LINK"));
    }
    ASSERT_EQ(links.size(), tree.second.size());
    std::set<std::string> followed;
    while (!links.empty()) {
        const std::string link = links.back();
        links.pop_back();
        if (!followed.insert(link).second) continue;
        const auto [name, rows] = ReadTable(host.Invoke(link).response);
        const std::string organization = Atom(link, "Norlo Server - Organization");
        if (name == "Norlo Server User Details") {
            ASSERT_EQ(rows.size(), 1u) << link;
            EXPECT_EQ(Texts(rows[0]), users.at({organization, Atom(link, "User")}));
            continue;
        }
        ASSERT_EQ(name, "Norlo Server Organization") << link;
        std::vector<std::string> names;
        for (const Row &row : rows) {
            names.push_back(row[0].text);
            if (!row[0].Attribute("LINK").empty()) links.push_back(row[0].Attribute("LINK"));
            const auto user = users.find({organization, row[0].text});
            if (user != users.end()) {
                EXPECT_EQ(Texts(row, 1), std::vector(user->second.begin() + 2, user->second.end()));
            }
        }
        EXPECT_EQ(names, members[organization]) << organization;
    }
    EXPECT_EQ(followed.size(), 9u);

    environment.State("configurations.xml");
    const auto configurations =
        ReadTable(host.Invoke(Select("Norlo Server - Configuration")).response);
    std::size_t linked = 0;
    for (const Row &row : configurations.second) {
        if (row[0].Attribute("LINK").empty()) continue;
        ++linked;
        const auto options = ReadTable(host.Invoke(row[0].Attribute("LINK")).response);
        EXPECT_EQ(options.first, "Norlo Server Default Configuration");
        ASSERT_EQ(options.second.size(), 1u);
        EXPECT_EQ(Texts(options.second[0]),
                  (std::vector<std::string>{row[0].text, row[3].text, "2048", "100"}));
    }
    EXPECT_EQ(linked, 1u);
}

}  // namespace
