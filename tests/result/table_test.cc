// The result side: tables, filters, links, catalogue texts and whole responses
// (scripts in tests/data/result), and the record filter on random tables.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "base/escaping.h"
#include "request/tsl_util.h"
#include "support/harness.h"
#include "support/table_helpers.h"

namespace {

TEST(ResultScripts, TranscriptsMatchTheirGoldenFiles) {
    tabletest::RunScripts("result");
}

// ---- the filter on random tables ------------------------------------------------

using Record = std::vector<std::string>;
using Columns = std::vector<std::pair<std::string, int32_t>>;

std::vector<std::string> Split(std::string_view list) {
    std::vector<std::string> items;
    for (std::size_t start = 0, end = 0; end != std::string_view::npos; start = end + 1)
        items.emplace_back(list.substr(start, (end = list.find('|', start)) - start));
    return items;
}

// Values, atoms and predicates for random tables: numbers near the limits of
// every width, texts that stars and commas make special, and few distinct
// values now and then, so that UNIQUE and EQUAL often hold.
class RandomTable {
  public:
    std::string Value(bool narrow) {
        static const std::vector<std::string> pool = Split(
            "0|1||10|9|-1|Delta|a|-5|35|2001|035| 42abc|+7|- 1|65535|65536|70000|4464|32768|-32768|"
            "40000|2147483648|4294967295|4294967296|18446744073709551617|abc|ABC|D|delta|Bath|Pine|"
            "e|a*b|a,b| b|b|1.5|\xC3\xA9|z");
        if (narrow || Roll(2)) return pool[Roll(narrow ? 6 : pool.size())];
        std::string text = Roll(5) == 0 ? " " : Roll(4) == 0 ? "-" : "";
        for (int i = 1 + Roll(24); i > 0; --i) text += static_cast<char>('0' + Roll(10));
        return text;
    }
    std::string Atom(int32_t oper) {
        static const std::vector<std::string> like = Split("D*|*h|*e*|*|**||a*b|*a|D**|1*|*5"),
                                              sets = Split(
                                                  "1-10,35,2001|-5|5-|a,b|a, b|,,a,,|0-5|"
                                                  "65535,70000|-10--5||,,,|9,10-20");
        const bool set = oper == OPER_WITHINSET || oper == OPER_NOTINSET;
        // One call at a time, so that every compiler draws the same tables.
        std::string atom = Value(Roll(2));
        if ((oper == OPER_LIKE || oper == OPER_NOTLIKE) && Roll(2)) return like[Roll(like.size())];
        if (oper == OPER_LIKE || oper == OPER_NOTLIKE) atom = (Roll(2) ? "*" : "") + atom;
        if (oper == OPER_LIKE || oper == OPER_NOTLIKE) return atom + (Roll(2) ? "*" : "");
        if (set && Roll(2)) return sets[Roll(sets.size())];
        if (set && Roll(2)) atom += "-" + Value(false);
        return set ? atom + "," + Value(true) : atom;
    }
    Predicate MakePredicate() {
        const auto count = [&] {
            const int r = static_cast<int>(Roll(10)), k = static_cast<int>(Roll(2));
            return r < 5 ? 0 : r < 8 ? 1 : r < 9 ? 2 + k : -1 - k;
        };
        const auto logic = static_cast<int32_t>(Roll(3)), lparen = count();
        const std::string target(1, "ABCDX"[Roll(5)]);
        const auto oper = static_cast<int32_t>(Roll(13));
        const std::string atom = Atom(oper);
        return Predicate(logic, lparen, target.c_str(), oper, atom.c_str(), count());
    }
    unsigned Roll(std::size_t n) { return static_cast<unsigned>(m_random() % n); }

  private:
    std::mt19937 m_random{20240611};
};

// Offers `record` in one of the three ways a method can; true when accepted.
bool Offer(tslData &data, const Columns &columns, const Record &record, unsigned way) {
    const auto c = [&](std::size_t i) { return i < record.size() ? record[i].c_str() : nullptr; };
    if (way == 0) return data.AddRecord(c(0), c(1), c(2), c(3), nullptr);
    if (way == 1) return data.AddLinkRecord(c(0), "l", c(1), nullptr, c(2), "", c(3), "l", nullptr);
    auto made = data.NewRecord();
    for (std::size_t i = 0; i < record.size(); ++i)
        EXPECT_TRUE(data.SetRecordValue(*made, columns[i].first.c_str(), c(i), nullptr));
    return data.AppendRecord(std::move(made));
}

// The outcomes (one line a table, 1 for an accepted record) were checked
// against a literal model of the rule when the golden file was written.
TEST(Filter, RandomTablesKeepTheirOutcomes) {
    RandomTable random;
    std::string outcomes;
    for (int round = 0; round < 3000; ++round) {
        tslData data("V02.0", "NorloTessel", "Dorvex", "");
        Columns columns;
        const bool narrow = random.Roll(3) == 0;
        data.SetFiltering(true);
        for (unsigned i = 0, n = 1 + random.Roll(4), first = random.Roll(4); i < n; ++i) {
            columns.emplace_back(std::string(1, "ABCD"[(first + i) % 4]), 1 + random.Roll(17));
            ASSERT_TRUE(data.AddColumn(columns.back().first.c_str(), columns.back().second));
        }
        for (unsigned i = 0, n = 1 + random.Roll(6); i < n; ++i)
            data.m_predicates.push_back(random.MakePredicate());
        for (int r = 0; r < 10; ++r) {
            if (random.Roll(10) == 0) {  // a method may change the where-clause between records
                if (random.Roll(2)) {
                    data.m_predicates.push_back(random.MakePredicate());
                } else {
                    Predicate &p = data.m_predicates[random.Roll(data.m_predicates.size())];
                    if (random.Roll(2))
                        p.atom = random.Atom(p.oper);
                    else  // the same atom under the other kind of operator
                        p.oper = p.oper == OPER_WITHINSET || p.oper == OPER_NOTINSET
                                     ? OPER_LIKE
                                     : OPER_WITHINSET;
                }
            }
            const bool filtering = random.Roll(8) != 0;
            data.SetFiltering(filtering);
            Record record;
            for (std::size_t i = 0; i < columns.size(); ++i) record.push_back(random.Value(narrow));
            outcomes += Offer(data, columns, record, random.Roll(3)) ? '1' : '0';
        }
        outcomes += '\n';
    }
    EXPECT_TRUE(nt::MatchesGolden("result/random-filter.txt", outcomes));
}

// Thousands of records of every size, some larger than the blocks the table
// keeps texts in, some dropped by the filter between accepted ones, one
// column under UNIQUE: every accepted text and link comes back whole, in
// order, and no rejected one shows.
TEST(Filter, LargeTablesKeepEveryText) {
    const auto text = [](int i) {
        const std::size_t size =
            i % 500 == 7 ? 70000 + i : static_cast<std::size_t>(i) * 7919 % 9000;
        return "r" + std::to_string(i) + std::string(size, static_cast<char>('a' + i % 26)) +
               (i % 11 == 0 ? "&<\"'" : "");
    };
    tslData data("V02.0", "NorloTessel", "Dorvex", "");
    data.SetFiltering(true);
    for (const char *column : {"A", "B", "C"}) data.AddColumn(column, TYPE_STRING);
    data.m_predicates.emplace_back(LOGIC_NOLOGIC, 0, "B", OPER_NEQ, "3", 0);
    data.m_predicates.emplace_back(LOGIC_AND, 0, "C", OPER_UNIQUE, "", 0);
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        const std::string a = text(i), b = std::to_string(i % 7), c = std::to_string(i % 2000);
        const std::string link = i % 3 == 0 ? "<l" + a : "";
        bool accepted;
        if (i % 2 == 0) {
            accepted = data.AddLinkRecord(a.c_str(), link.c_str(), b.c_str(), nullptr, c.c_str(),
                                          nullptr, nullptr);
        } else {
            auto record = data.NewRecord();
            data.SetRecordValue(*record, "A", a.c_str(), link.c_str());
            data.SetRecordValue(*record, "B", b.c_str(), nullptr);
            data.SetRecordValue(*record, "C", c.c_str(), nullptr);
            accepted = data.AppendRecord(std::move(record));
        }
        ASSERT_EQ(accepted, i % 7 != 3 && (i < 2000 || (i - 2000) % 7 == 3)) << i;
        if (!accepted) continue;
        std::string escapedA, escapedLink;
        AppendXmlEscaped(escapedA, a);
        AppendXmlEscaped(escapedLink, link);
        expected += "    <REC>\n      <VAL" +
                    (link.empty() ? std::string() : " LINK=\"" + escapedLink + "\"") + ">" +
                    escapedA + "</VAL>\n      <VAL>" + b + "</VAL>\n      <VAL>" + c +
                    "</VAL>\n    </REC>\n";
    }
    data.BuildResponse();
    const std::string response(data.GetResponse(), data.GetResponseSize());
    const std::size_t begin = response.find("  <RECS>\n") + 9, end = response.find("  </RECS>");
    ASSERT_NE(end, std::string::npos);
    EXPECT_TRUE(response.substr(begin, end - begin) == expected);
}

TEST(Filter, HugeParenthesisCountsCostNoMore) {
    // Predicate i holds when the value holds the mark |i|.
    const auto accepts = [](std::vector<std::array<int32_t, 3>> shapes, const std::string &value) {
        tslData data("V02.0", "NorloTessel", "Dorvex", "");
        data.SetFiltering(true);
        data.AddColumn("A", TYPE_STRING);
        for (std::size_t i = 0; i < shapes.size(); ++i)
            data.m_predicates.emplace_back(shapes[i][0], shapes[i][1], "A", OPER_LIKE,
                                           "*|" + std::to_string(i) + "|*", shapes[i][2]);
        return data.AddRecord(value.c_str(), nullptr);
    };
    EXPECT_TRUE(accepts({{LOGIC_NOLOGIC, INT32_MAX, 0}, {LOGIC_AND, 0, 0}}, "|0|1|"));
    EXPECT_FALSE(accepts({{LOGIC_NOLOGIC, INT32_MAX, 0}, {LOGIC_AND, 0, 0}}, "|1|"));
    EXPECT_TRUE(accepts({{LOGIC_NOLOGIC, 0, INT32_MAX}, {LOGIC_OR, INT32_MAX, INT32_MAX}}, "|0|"));
    EXPECT_FALSE(accepts({{LOGIC_NOLOGIC, 0, INT32_MAX}, {LOGIC_OR, INT32_MAX, INT32_MAX}}, "|1|"));
    std::vector<std::array<int32_t, 3>> chain(60, {LOGIC_OR, 1, 0}), nest(500, {LOGIC_AND, 0, 1});
    chain.back()[2] = 60;
    nest.front() = {LOGIC_NOLOGIC, 500, 0};
    EXPECT_TRUE(accepts(chain, "|59|"));
    EXPECT_FALSE(accepts(chain, "|"));
    std::string all;
    for (int i = 0; i < 500; ++i) all += "|" + std::to_string(i) + "|";
    EXPECT_TRUE(accepts(nest, all));
    EXPECT_FALSE(accepts(nest, all.replace(all.find("|250|"), 5, "|")));
}

}  // namespace
