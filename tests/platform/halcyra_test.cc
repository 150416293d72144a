// The HalcyraServer stand-in: which documents Connect refuses and why,
// re-reading only files that changed, and what its objects refuse. What its
// calls answer is pinned through the backup server tables (tests/app).
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <xercesc/util/PlatformUtils.hpp>

#include "halcyra/halcyra_server.h"
#include "halcyra/session.h"
#include "support/harness.h"

namespace {

// The library parses with the process's Xerces-C and refuses to without it.
const std::string kXercesBefore = [] {
    HBKServer server;
    server.Connect(u"", 0);
    const HBKError *e = server.GetLastError();
    xercesc::XMLPlatformUtils::Initialize();
    return e ? e->id : "connected";
}();

const std::string kData = NT_SOURCE_DIR "/tests/data/platform/halcyra/";

// UTF-16 to UTF-8 by the C library, independently of the code under test.
std::string U8(const std::u16string &text) {
    iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    std::string out(text.size() * 3, '\0');
    char *in = reinterpret_cast<char *>(const_cast<char16_t *>(text.data())), *to = out.data();
    std::size_t inLeft = text.size() * 2, outLeft = out.size();
    const std::size_t done = iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    return done == static_cast<std::size_t>(-1) ? "<bad UTF-16>" : out.substr(0, to - out.data());
}

std::string UserText(const HBKUser &u) {
    std::ostringstream out;
    out << u.GetActive() << '|' << u.GetProtected() << '|' << U8(u.GetConfig()) << '|'
        << U8(u.GetLastLoginDate()) << '|' << U8(u.GetDataPath()) << '|' << u.GetStorageSize()
        << '|' << U8(u.GetLastBackupDate());
    return out.str();
}

// What a refused document leaves: a server with nothing in it.
std::string Shown(HBKServer &server) {
    int severity = 0;
    std::u16string date, source, description, extension;
    HBKOrgNode *root = server.GetMyOrganization();
    root->SetStartPosition();
    return std::to_string(server.GetMessageLog()->GetNextMessage(severity, date, source,
                                                                 description, extension)) +
           '|' + std::to_string(server.GetUserConfigurations()->GetCount()) + '|' +
           U8(server.GetUserConfigurations()->GetDefault()) + '|' + U8(root->GetName()) + '|' +
           std::to_string(root->GetNext() != nullptr);
}

// A state file of the test's own; NORLO_SERVER_STATE names it while it lives.
class StateFile {
  public:
    StateFile() { ::setenv("NORLO_SERVER_STATE", path(), 1); }
    ~StateFile() { ::unsetenv("NORLO_SERVER_STATE"); }
    // Rewrites the file in place, as an editor would; or replaces it whole.
    void Write(const std::string &text) const { std::ofstream(m_path, std::ios::binary) << text; }
    void Replace(const std::string &text) const {
        std::ofstream(m_path + ".new", std::ios::binary) << text;
        std::rename((m_path + ".new").c_str(), m_path.c_str());
    }
    const char *path() const { return m_path.c_str(); }

  private:
    nt::TempCwd m_dir;
    std::string m_path = m_dir.Path("state.xml");
};

std::string ErrorText(const HBKObject &object) {
    const HBKError *e = object.GetLastError();
    return e ? e->where + ' ' + e->id + ' ' + std::to_string(e->index) : "none";
}

// The error Connect records, or "" when it connected.
std::string Refusal(HBKServer &server) {
    return server.Connect(u"localhost", 1900) ? "" : ErrorText(server);
}

// Each case is read after a good document; a refused one leaves an empty server.
TEST(HalcyraState, RefusedDocumentsAndLimits) {
    std::vector<std::pair<std::string, std::string>> cases;  // error id, document
    std::ifstream table(kData + "refused.txt");
    for (std::string line; std::getline(table, line);) {
        if (!line.empty() && line[0] != '#')
            cases.emplace_back(line.substr(0, line.find('\t')), line.substr(line.find('\t') + 1));
    }
    ASSERT_GT(cases.size(), 20u);
    // At each limit the document is served; one beyond it, it is refused.
    auto repeat = [](std::size_t n, const std::string &part) {
        std::string all;
        while (n-- > 0) all += part;
        return all;
    };
    auto log = [](const std::string &messages) {
        return "<NorloServer><MessageLog>" + messages + "</MessageLog></NorloServer>";
    };
    auto attributes = [&](std::size_t n) {
        std::string m = "<Message";
        while (n-- > 0) m += " a" + std::to_string(n) + "='1'";
        return log(m + "/>");
    };
    for (std::size_t over : {0, 1}) {
        const std::string id = over ? "IDS_STATE_LIMIT" : "";
        const std::size_t depth = halcyra::kMaxDepth - 1 + over;
        cases.emplace_back(id, "<NorloServer>" + repeat(depth, "<Organization>") +
                                   repeat(depth, "</Organization>") + "</NorloServer>");
        cases.emplace_back(id, log(repeat(halcyra::kMaxElements - 2 + over, "<Message/>")));
        cases.emplace_back(id, attributes(halcyra::kMaxAttributes + over));
        cases.emplace_back(
            id, log("<Message date='" + repeat(halcyra::kMaxTextLength + over, "é") + "'/>"));
    }
    for (const auto &[id, document] : cases) {
        StateFile file;
        file.Write(nt::ReadFile(kData + "full.xml"));
        HBKServer server;
        ASSERT_EQ(Refusal(server), "");
        file.Write(document);
        const std::string where = document.substr(0, 120);
        EXPECT_EQ(Refusal(server), id.empty() ? "" : "HBKServer::Connect " + id + " 0") << where;
        if (id.empty()) continue;
        EXPECT_EQ(server.Startup(), 0) << where;
        EXPECT_EQ(Shown(server), "0|0|||0") << where;
        EXPECT_EQ(UserText(HBKUser(server.GetConid(), u"Ann")), "0|0||||0|") << where;
    }
}

TEST(HalcyraState, FilesThatCannotBeReadAreRefused) {
    EXPECT_EQ(kXercesBefore, "IDS_XML_UNINITIALIZED");
    StateFile file;
    HBKServer server;
    EXPECT_EQ(Refusal(server), "HBKServer::Connect IDS_STATE_UNREADABLE 0");  // missing
    ASSERT_EQ(::mkfifo(file.path(), 0600), 0);
    EXPECT_EQ(Refusal(server), "HBKServer::Connect IDS_STATE_UNREADABLE 0");  // not a regular file
    std::remove(file.path());
    // As many (zero) bytes as the limit allows are read, and found invalid; one more is not read.
    file.Write("");
    ASSERT_EQ(::truncate(file.path(), halcyra::kMaxStateBytes), 0);
    EXPECT_EQ(Refusal(server), "HBKServer::Connect IDS_STATE_INVALID 0");
    ASSERT_EQ(::truncate(file.path(), halcyra::kMaxStateBytes + 1), 0);
    EXPECT_EQ(Refusal(server), "HBKServer::Connect IDS_STATE_LIMIT 0");
}

TEST(HalcyraState, ReReadsOnlyWhatChanged) {
    const std::string a =
        "<NorloServer><Organization name='Alpha'><Organization name='Sub'/>"
        "</Organization></NorloServer>";
    auto renamed = [&](const std::string &from, const std::string &to) {
        std::string s = a;
        return s.replace(s.find(from), from.size(), to);
    };
    StateFile file;
    file.Write(a);
    HBKServer server, other;
    ASSERT_EQ(server.Connect(u"", 0), 1);
    HBKOrgNode *root = server.GetMyOrganization();
    // Same-sized rewrites in quick succession: within one clock tick they may
    // leave the file's times as they were (kernels that refine the times of a
    // file whose times were looked at never do). Each must be seen.
    for (int i = 1; i <= 20; ++i) {
        file.Write(renamed("Alpha", i % 2 ? "Bravo" : "Alpha"));
        ASSERT_EQ(server.Connect(u"", 0), 1);
        ASSERT_EQ(U8(root->GetName()), i % 2 ? "Bravo" : "Alpha");
        EXPECT_EQ(server.GetMyOrganization(), root);
    }
    const unsigned long loads = halcyra::StateLoadCount();
    HBKOrgNode *sub = (root->SetStartPosition(), root->GetNext());
    for (int i = 0; i < 3; ++i) ASSERT_EQ(server.Connect(u"", 0), 1);
    ASSERT_EQ(other.Connect(u"", 0), 1);
    root->Refresh();
    sub->Refresh();
    EXPECT_EQ(halcyra::StateLoadCount(), loads);
    EXPECT_EQ((root->SetStartPosition(), root->GetNext()),
              sub);  // nothing changed, nothing released
    // Seen by a node's Refresh, without Connect, once the last look at the
    // file is old enough; until then a walk's refreshes reuse it.
    file.Write(renamed("Alpha", "Charl"));
    root->Refresh();
    EXPECT_EQ(U8(root->GetName()), "Alpha");
    std::this_thread::sleep_for(halcyra::Session::kRefreshReuse * 11 / 10);
    root->Refresh();
    EXPECT_EQ(U8(root->GetName()), "Charl");
    file.Write(renamed("Sub", "Two"));  // a node whose place holds another name keeps its own
    sub = (root->SetStartPosition(), root->GetNext());
    std::this_thread::sleep_for(halcyra::Session::kRefreshReuse * 11 / 10);
    sub->Refresh();
    EXPECT_EQ(U8(sub->GetName()), "Sub");
    file.Write("<bad/>");  // a failed Refresh keeps what was shown; a refused file is parsed once
    std::this_thread::sleep_for(halcyra::Session::kRefreshReuse * 11 / 10);
    root->Refresh();
    EXPECT_EQ(U8(root->GetName()), "Charl");
    const unsigned long refused = halcyra::StateLoadCount();
    EXPECT_EQ(other.Connect(u"", 0), 0);
    EXPECT_EQ(halcyra::StateLoadCount(), refused);
    file.Write(a);  // a disconnected server's objects do not reconnect by themselves
    other.GetMyOrganization()->Refresh();
    EXPECT_EQ(U8(other.GetMyOrganization()->GetName()), "");
}

TEST(HalcyraState, IndexOutsideACollectionGivesNoItem) {
    StateFile file;
    file.Write(nt::ReadFile(kData + "full.xml"));
    HBKServer server;
    ASSERT_EQ(server.Connect(u"", 0), 1);
    HBKUserConfigurations *configurations = server.GetUserConfigurations();
    HBKCollection *sets = configurations->GetItemAt(0)->GetBackupSets();
    EXPECT_NE(sets->GetItemAt(1), nullptr);
    EXPECT_EQ(ErrorText(*sets), "none");
    for (long index : {-1L, 3L, LONG_MIN, LONG_MAX}) {
        EXPECT_EQ(configurations->GetItemAt(index), nullptr);
        EXPECT_EQ(ErrorText(*configurations),
                  "HBKCollection::GetItemAt IDS_BADINDEX " + std::to_string(index));
    }
    EXPECT_EQ(sets->GetItemAt(2), nullptr);
    EXPECT_EQ(ErrorText(*sets), "HBKCollection::GetItemAt IDS_BADINDEX 2");
    // Each look at the message log starts over.
    int severity = 0, count = 0;
    std::u16string date, source, description, extension;
    for (int pass = 0; pass < 2; ++pass)
        for (HBKMessageLog *log = server.GetMessageLog();
             log->GetNextMessage(severity, date, source, description, extension);)
            ++count;
    EXPECT_EQ(count, 8);
    // A read-only server refuses changes and says so.
    HBKUser user(server.GetConid(), u"Zoë");
    EXPECT_EQ(user.SetActive(1), 0);
    EXPECT_EQ(ErrorText(user), "HBKUser::SetActive IDS_READONLY 0");
    std::ostringstream printed;
    user.print(printed);
    EXPECT_EQ(printed.str(), "user Zoë active=0 protected=0\n");
}

// Servers on several threads share the cache while the file is replaced under
// them; each Connect shows one whole document.
TEST(HalcyraState, ServersOnSeveralThreadsShareTheCache) {
    StateFile file;
    const std::string full = nt::ReadFile(kData + "full.xml"),
                      empty = nt::ReadFile(kData + "empty.xml");
    file.Replace(full);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads(4);
    for (std::thread &thread : threads) {
        thread = std::thread([&] {
            HBKServer server;
            for (int i = 0; i < 40; ++i) {
                wrong += server.Connect(u"", 0) != 1;
                const std::string shown = U8(server.GetMyOrganization()->GetName()) + ':' +
                                          UserText(HBKUser(server.GetConid(), u"Ann"));
                wrong += shown != ":0|0||||0|" &&
                         shown !=
                             "R&D <HQ>:1|0|Office|06/15/04 10:30|/srv/norlo/ann|"
                             "18446744073709551615|06/14/04 22:00";
            }
        });
    }
    for (int i = 0; i < 40; ++i) file.Replace(i % 2 ? full : empty);
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
