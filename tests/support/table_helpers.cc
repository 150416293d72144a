#include "support/table_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <sstream>
#include <utility>

#include "base/clock.h"
#include "base/trace_log.h"
#include "request/quote_repair.h"
#include "request/tsl_util.h"
#include "request/xerces_int.h"
#include "request/xerces_library.h"
#include "support/harness.h"

namespace tabletest {
namespace {

class XercesEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xerces_library::Initialize(error)) << error;
    }
    void TearDown() override { xerces_library::Terminate(); }
};
[[maybe_unused]] ::testing::Environment *const g_xerces =
    ::testing::AddGlobalTestEnvironment(new XercesEnvironment);  // gtest owns it

const std::filesystem::path kDataDir =
    std::filesystem::path(__FILE__).parent_path().parent_path() / "data";

std::time_t g_fixedTime = 0;

struct Token {
    bool null = true;  // the bare word null, or past the end of the line
    bool quoted = false;
    std::string text;
    const char *c_str() const { return null ? nullptr : text.c_str(); }
};

// Words split at blanks; "..." with C escapes (\\ \" \t \n \r \xHH); the bare word null.
std::vector<Token> Tokens(std::string_view line) {
    std::vector<Token> out;
    for (std::size_t i = line.find_first_not_of(' '); i < line.size();
         i = line.find_first_not_of(' ', i)) {
        Token token{false, line[i] == '"', ""};
        if (!token.quoted) {
            const std::size_t end = std::min(line.find(' ', i), line.size());
            token.text = line.substr(i, end - i);
            token.null = token.text == "null";
            i = end;
        }
        for (++i; token.quoted && i < line.size() && line[i] != '"'; ++i) {
            char c = line[i];
            if (c == '\\' && ++i < line.size()) {
                const std::string_view plain = "tnrx", meant = "\t\n\r";
                c = plain.find(line[i]) < 3 ? meant[plain.find(line[i])] : line[i];
                if (line[i] == 'x')
                    c = static_cast<char>(std::stoi(std::string(line.substr(i + 1, 2)), 0, 16));
                if (line[i] == 'x') i += 2;
            }
            token.text += c;
        }
        i += token.quoted ? 1 : 0;  // past the closing quote
        out.push_back(std::move(token));
    }
    return out;
}

// A code given by number or by its name in a tslUtil table.
int32_t Code(const Token &token, const char *(*name)(int32_t), int32_t count) {
    for (int32_t code = 0; code < count; ++code)
        if (token.text == name(code)) return code;
    return std::stoi(token.text);
}

std::string Flag(bool value) {
    return value ? "  = true\n" : "  = false\n";
}

void Block(std::string &out, std::string_view text) {
    for (std::size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        out += "  | " + Show(text.substr(start, end - start), false);
        out += end == text.size() ? " (no line end)\n" : "\n";
    }
}

class Runner {
  public:
    std::string Run(const std::string &script) {
        std::istringstream lines(script);
        g_fixedTime = 0;
        TslSetClock([] { return g_fixedTime; });
        for (std::string line; std::getline(lines, line);) {
            m_out += line + "\n";
            std::vector<Token> t = Tokens(line);
            if (t.empty() || t[0].text[0] == '#') continue;
            std::string block;  // request and config texts: the lines up to "."
            const bool takesBlock =
                t[0].text == "config" || (t[0].text == "request" && !t.back().quoted);
            for (bool first = true; takesBlock && std::getline(lines, line) && line != ".";
                 first = false)
                block += (first ? "" : "\n") + line;
            if (takesBlock) m_out += block + "\n.\n";
            t.resize(std::max<std::size_t>(t.size(), 40));
            LogCapture log;
            Command(t, block);
            for (const std::string &logged : log.Lines()) m_out += "  log " + Show(logged) + "\n";
        }
        TslSetClock(nullptr);
        return m_out;
    }

  private:
    void Say(const std::string &result) { m_out += "  = " + result + "\n"; }

    void Command(const std::vector<Token> &t, const std::string &block) {
        const std::string &c = t[0].text;
        const auto n = [&](std::size_t i) { return std::stoi(t[i].text); };
        const auto s = [&](std::size_t i) { return t[i].c_str(); };
        // Texts up to the first missing one; $link is the last link built.
        const auto v = [&](std::size_t i) {
            return !t[i].quoted && t[i].text == "$link" ? m_link.c_str() : s(i);
        };
        tslData &d = *m_data;
        if (c == "request") {  // the texts on the line, or else the block
            std::string text = block;
            for (std::size_t i = t[1].text == "raw" ? 2 : 1; t[i].quoted; ++i) text += t[i].text;
            int status = -1;
            m_data = Parse(text, t[1].text == "raw", &status);
            Say(std::to_string(status));
            if (m_data->GetRequest() != text)
                m_out += "  repaired " + Show(m_data->GetRequest()) + "\n";
            m_out += Dump(*m_data);
        } else if (c == "config") {
            std::vector<ConfigEntry> entries;
            bool raw = false;
            XercesInt parser;
            m_out += "  = " + std::to_string(
                                  parser.Parse({t[1].null ? "Cfg" : s(1), &entries, &raw}, block));
            m_out += raw ? " raw\n" : "\n";
            for (const ConfigEntry &e : entries) {
                m_out += "  entry " + Show(e.name.str()) + " " + Show(e.value.str()) + "\n";
                for (const ConfigEntry &a : e.children)
                    m_out += "    child " + Show(a.name.str()) + " " + Show(a.value.str()) +
                             " kind " + std::to_string(a.kind) + "\n";
            }
        } else if (c == "repair") {
            Say(Show(RepairQuotes(t[1].text)));
        } else if (c == "compare") {
            Say(std::to_string(tslString(s(1)).compare(s(2))));
        } else if (c == "utf16") {  // code units in hex
            std::u16string units;
            for (std::size_t i = 1; !t[i].null; ++i)
                units += static_cast<char16_t>(std::stoi(t[i].text, 0, 16));
            Say(Show(tslString(units.c_str()).str()));
        } else if (c == "names") {  // type, output, operator, action, logic or method
            const char *(*const tables[])(int32_t) = {
                tslUtil::TypeName,   tslUtil::OutputName, tslUtil::OperatorName,
                tslUtil::ActionName, tslUtil::LogicName,  tslUtil::MethodTypeName};
            const auto table = tables[std::string("tyouopaclome").find(t[1].text.substr(0, 2)) / 2];
            std::string names;
            for (std::size_t i = 2; !t[i].null; ++i) names += std::string(" ") + table(n(i));
            Say(names.substr(1));
        } else if (c == "reset") {
            m_data = Parse("<tesselrequest/>");
        } else if (c == "test") {  // one value against one predicate on a one-column table
            tslData one("", "", "", "");
            one.SetFiltering(true);
            one.AddColumn("C", Code(t[1], tslUtil::TypeName, 19));
            one.m_predicates.emplace_back(LOGIC_NOLOGIC, 0, "C",
                                          Code(t[2], tslUtil::OperatorName, 12), s(3), 0);
            m_out += Flag(one.AddRecord(s(4), nullptr));
        } else if (c == "clock") {
            g_fixedTime = n(1);
        } else if (c == "table") {
            m_out += Flag(d.SetTableInfo(s(1), s(2)));
        } else if (c == "chart") {
            m_out += Flag(d.SetChartInfo(n(1), n(2), n(3), n(4)));
        } else if (c == "error") {
            m_out += Flag(d.SetError(n(1), s(2), s(3)));
            m_out += "  code " + std::to_string(d.GetErrorCode()) + "\n";
        } else if (c == "filtering") {
            d.SetFiltering(t[1].text == "on");
        } else if (c == "column") {
            m_out += Flag(d.AddColumn(s(1), Code(t[2], tslUtil::TypeName, 19)));
        } else if (c == "record") {
            m_out += Flag(d.AddRecord(v(1), v(2), v(3), v(4), v(5), v(6), v(7), nullptr));
        } else if (c == "linkrecord") {
            m_out += Flag(d.AddLinkRecord(v(1), v(2), v(3), v(4), v(5), v(6), v(7), v(8), nullptr));
        } else if (c == "new") {
            m_record = d.NewRecord();
        } else if (c == "set") {
            m_out += Flag(d.SetRecordValue(*m_record, s(1), v(2), v(3)));
        } else if (c == "append") {
            m_out += Flag(d.AppendRecord(std::move(m_record)));
        } else if (c == "predicate") {
            d.m_predicates.push_back(*Predicates(t, 1)[0]);
        } else if (c == "link") {
            const Predicate *const *p = Predicates(t, 2);
            m_link = d.BuildLink(s(1), p[0], p[1], p[2], p[3], p[4], p[5]);
            Block(m_out, m_link);
            const char *sponsor = d.m_sponsorName.c_str();
            for (const std::string &same :
                 {tslData::BuildLinkText(d.m_envelope, sponsor, s(1), p),
                  tslData::BuildLinkText(d.m_envelope, sponsor, s(1), p[0], p[1], p[2], p[3], p[4],
                                         p[5]),
                  tslData::BuildRequestText(d.m_envelope, sponsor, s(1), p)})
                EXPECT_EQ(same, m_link);
        } else if (c == "query") {
            const Predicate *const *p = Predicates(t, 3);
            Block(m_out, d.BuildQuery(Code(t[1], tslUtil::ActionName, 5), s(2), p[0], p[1], p[2],
                                      p[3], p[4], p[5]));
        } else if (c == "template" || c == "templatev") {
            std::vector<const char *> fields;
            for (std::size_t i = 7; !t[i].null; ++i) fields.push_back(s(i));
            fields.push_back(nullptr);
            const char *const *required = fields.size() > 1 ? fields.data() : nullptr;
            const bool yes = t[4].text == "yes";
            const std::optional<std::string> text =
                c == "templatev"
                    ? d.BuildAnyMethodTemplateV(n(1), s(2), s(3), yes, s(5), s(6), fields[0],
                                                required ? fields[1] : nullptr, nullptr)
                : t[1].quoted || t[1].null
                    ? d.BuildAnyMethodTemplate(s(1), s(2), s(3), yes, s(5), s(6), required)
                    : d.BuildAnyMethodTemplate(n(1), s(2), s(3), yes, s(5), s(6), required);
            text ? Block(m_out, *text) : void(m_out += "  = null\n");
        } else if (c == "app") {
            m_apps.push_back(tslData::BuildApplication(s(1), s(2), s(3)));
            m_out += m_apps.back() ? "  = application\n" : "  = null\n";
            if (!m_apps.back()) m_apps.pop_back();
        } else if (c == "describe") {
            m_apps.resize(4);
            m_out += Flag(d.SetDescription(m_apps[0].release(), m_apps[1].release(),
                                           m_apps[2].release(), m_apps[3].release(), nullptr));
            m_apps.clear();
        } else if (c == "build") {
            d.BuildResponse();
            Block(m_out, d.GetResponse());
        } else {
            ADD_FAILURE() << "unknown command " << c;
        }
    }

    // Predicates of six words each (logic lparen target operator atom rparen)
    // from t[first] on, as a null-terminated list of at least six entries.
    const Predicate *const *Predicates(const std::vector<Token> &t, std::size_t first) {
        m_predicates.clear();
        for (std::size_t i = first; i + 5 < t.size() && !t[i].null; i += 6)
            m_predicates.push_back(
                tslData::NewPredicate(Code(t[i], tslUtil::LogicName, 3), std::stoi(t[i + 1].text),
                                      t[i + 2].c_str(), Code(t[i + 3], tslUtil::OperatorName, 12),
                                      t[i + 4].c_str(), std::stoi(t[i + 5].text)));
        m_list.assign(std::max<std::size_t>(m_predicates.size() + 1, 6), nullptr);
        std::transform(m_predicates.begin(), m_predicates.end(), m_list.begin(),
                       [](const auto &p) { return p.get(); });
        return m_list.data();
    }

    std::string m_out;
    std::unique_ptr<tslData> m_data = Parse("<tesselrequest/>");
    decltype(std::declval<tslData &>().NewRecord()) m_record;
    std::vector<std::unique_ptr<ApplicationInfo>> m_apps;
    std::vector<std::unique_ptr<Predicate>> m_predicates;
    std::vector<const Predicate *> m_list;
    std::string m_link;
};

}  // namespace

LogCapture::LogCapture() {
    TslSetDebugSink(&LogCapture::Sink, this);
}

LogCapture::~LogCapture() {
    TslSetDebugSink(nullptr, nullptr);
}

void LogCapture::Sink(void *self, const char *line, std::size_t size) {
    std::string text(line, size);
    if (text.size() >= 20 && text.compare(7, 3, "[0x") == 0) text.erase(7, 13);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    static_cast<LogCapture *>(self)->m_lines.push_back(std::move(text));
}

std::unique_ptr<tslData> Parse(const std::string &text, bool raw, int *status) {
    auto data = std::make_unique<tslData>("V02.000.02", "ReqTessel", "Dorvex", text.c_str());
    data->m_raw = raw;
    const int result = data->ParseRequest();
    if (status != nullptr) *status = result;
    return data;
}

std::string Dump(const tslRequest &r) {
    std::istringstream names(
        "portalVersion credentials transactionId signature certificate sponsorVersion sponsorName "
        "portalLocation table");
    std::string out = r.m_envelope ? "  envelope\n" : "", name;
    for (const tslString *text :
         {&r.m_portalVersion, &r.m_credentials, &r.m_transactionId, &r.m_signature,
          &r.m_certificate, &r.m_sponsorVersion, &r.m_sponsorName, &r.m_portalLocation, &r.m_table})
        if (names >> name && !text->empty()) out += "  " + name + " " + Show(text->str()) + "\n";
    if (r.m_action != 0) out += std::string("  action ") + tslUtil::ActionName(r.m_action) + "\n";
    if (r.m_outputKind != 0 || !r.m_outputTargets.empty()) {
        out += std::string("  output ") + tslUtil::OutputName(r.m_outputKind);
        for (const tslString &target : r.m_outputTargets) out += " " + Show(target.str());
        out += "\n";
    }
    for (const Predicate &p : r.m_predicates)
        out += std::string("  predicate ") + tslUtil::LogicName(p.logic) + " " +
               std::to_string(p.lparen) + " " + Show(p.target.str()) + " " +
               tslUtil::OperatorName(p.oper) + " " + Show(p.atom.str()) + " " +
               std::to_string(p.rparen) + "\n";
    return out;
}

std::string Show(std::string_view text, bool quote) {
    std::string out = quote ? "\"" : "";
    for (const char c : text) {
        char escaped[5] = {c, 0};
        if (c == '\\' || (quote && c == '"') || c == '\t' || c == '\n' || c == '\r') {
            escaped[0] = '\\';
            escaped[1] = c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : c;
        } else if (static_cast<unsigned char>(c) < 32 || c == 127) {
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
        }
        out += escaped;
    }
    return quote ? out + "\"" : out;
}

void RunScripts(const std::string &folder) {
    std::vector<std::filesystem::path> scripts;
    for (const auto &entry : std::filesystem::directory_iterator(kDataDir / folder))
        if (entry.path().extension() == ".case") scripts.push_back(entry.path());
    std::sort(scripts.begin(), scripts.end());
    EXPECT_FALSE(scripts.empty());
    for (const std::filesystem::path &script : scripts)
        EXPECT_TRUE(nt::MatchesGolden(folder + "/" + script.stem().string() + ".out",
                                      Runner().Run(nt::ReadFile(script))));
}

}  // namespace tabletest
