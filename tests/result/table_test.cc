// The result side: tables, filters, links, catalogue texts and whole responses
// (scripts in tests/data/result), and the record filter against a literal
// reference of its rule on random tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/escaping.h"
#include "request/tsl_util.h"
#include "support/table_helpers.h"

namespace {

TEST(ResultScripts, TranscriptsMatchTheirGoldenFiles) {
    tabletest::RunScripts("result");
}

// ---- the filter's rule, taken literally ----------------------------------------

using Record = std::vector<std::string>;

// Leading blanks, a sign, decimal digits: the number modulo 2^64.
uint64_t Number(std::string_view text) {
    std::size_t i = text.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string_view::npos) return 0;
    const bool minus = text[i] == '-';
    if (text[i] == '-' || text[i] == '+') ++i;
    uint64_t n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) n = n * 10 + (text[i] - '0');
    return minus ? 0 - n : n;
}

template <typename T>
int Order(T a, T b) {
    return a < b ? -1 : b < a ? 1 : 0;
}

// value against atom by column type; none for the types without a comparison.
std::optional<int> Compare(int32_t type, std::string_view v, std::string_view a) {
    const uint64_t x = Number(v), y = Number(a);
    if (type == TYPE_UINT16) return Order<uint16_t>(x, y);
    if (type == TYPE_SINT16) return Order<int16_t>(x, y);
    if (type == TYPE_UINT32 || type == TYPE_TIMESTAMP) return Order<uint32_t>(x, y);
    if (type == TYPE_SINT32) return Order<int32_t>(x, y);
    if (type == TYPE_CHAR16 || type == TYPE_SINT8 || type == TYPE_ENUM || type == TYPE_BITMASK)
        return std::nullopt;
    return Order(v.compare(a), 0);  // unsigned bytes; a prefix sorts first
}

bool Like(std::string_view atom, std::string_view v) {
    if (atom.empty()) return false;
    std::string_view p = atom;
    const bool suffix = p.front() == '*';
    if (suffix) p.remove_prefix(1);
    const bool prefix = p.empty() || p.back() == '*';
    if (!p.empty() && prefix) p.remove_suffix(1);
    if (p.size() > v.size()) return false;
    if (prefix && suffix) return v.find(p) != std::string_view::npos;
    return prefix ? v.starts_with(p) : suffix ? v.ends_with(p) : v == p;
}

bool InSet(std::string_view atom, std::string_view v) {
    for (std::size_t start = 0; start <= atom.size();) {
        const std::size_t comma = std::min(atom.find(',', start), atom.size());
        const std::string_view item = atom.substr(start, comma - start);
        start = comma + 1;
        const std::size_t dash = item.find('-');
        const auto n = [](std::string_view t) { return static_cast<int32_t>(Number(t)); };
        if (item.empty()) continue;
        if (dash == std::string_view::npos
                ? item == v
                : n(item.substr(0, dash)) <= n(v) && n(v) <= n(item.substr(dash + 1)))
            return true;
    }
    return false;
}

struct Model {
    std::vector<std::pair<std::string, int32_t>> columns;
    std::vector<Predicate> predicates;
    std::vector<Record> accepted;

    bool Test(const Predicate &p, const Record &r) const {
        std::size_t at = 0;
        while (at < columns.size() && columns[at].first != p.target.str()) ++at;
        if (at == columns.size()) return true;
        const std::string &v = r[at];
        const std::string_view atom = p.atom.view();
        if (p.oper == OPER_LIKE || p.oper == OPER_NOTLIKE)
            return Like(atom, v) == (p.oper == OPER_LIKE);
        if (p.oper == OPER_WITHINSET || p.oper == OPER_NOTINSET)
            return InSet(atom, v) == (p.oper == OPER_WITHINSET);
        if (p.oper == OPER_UNIQUE)
            return std::none_of(accepted.begin(), accepted.end(),
                                [&](const Record &earlier) { return earlier[at] == v; });
        const std::optional<int> order = Compare(columns[at].second, v, atom);
        const int k = order.value_or(0);
        const bool holds[] = {k == 0, k != 0, k<0, k> 0, k <= 0, k >= 0};
        return !order || p.oper < OPER_EQUAL || p.oper > OPER_GREATEQ || holds[p.oper - OPER_EQUAL];
    }

    // The group starting at predicate s with depth d.
    bool Group(std::size_t s, int64_t d, const Record &r) const {
        bool result = true, first = true;
        int64_t balance = 0;
        for (std::size_t i = s; i < predicates.size(); ++i, d = 0, first = false) {
            const Predicate &p = predicates[i];
            balance += p.lparen - d;
            // A predicate inside a group evaluated already (balance above 0) adds nothing.
            const std::optional<bool> value = d < p.lparen   ? Group(i, d + 1, r)
                                              : balance <= 0 ? std::optional<bool>(Test(p, r))
                                                             : std::nullopt;
            if (value && (first || p.logic == LOGIC_NOLOGIC)) result = *value;
            if (value && !first && p.logic == LOGIC_AND) result = result && *value;
            if (value && !first && p.logic == LOGIC_OR) result = result || *value;
            balance -= p.rparen;
            if (balance < 0) return result;
        }
        return result;
    }
};

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
bool Offer(tslData &data, const Model &model, const Record &record, unsigned way) {
    const auto c = [&](std::size_t i) { return i < record.size() ? record[i].c_str() : nullptr; };
    if (way == 0) return data.AddRecord(c(0), c(1), c(2), c(3), nullptr);
    if (way == 1) return data.AddLinkRecord(c(0), "l", c(1), nullptr, c(2), "", c(3), "l", nullptr);
    auto made = data.NewRecord();
    for (std::size_t i = 0; i < record.size(); ++i)
        EXPECT_TRUE(data.SetRecordValue(*made, model.columns[i].first.c_str(), c(i), nullptr));
    return data.AppendRecord(std::move(made));
}

TEST(Filter, AgreesWithTheLiteralRuleOnRandomTables) {
    RandomTable random;
    for (int round = 0; round < 3000; ++round) {
        tslData data("V02.0", "NorloTessel", "Dorvex", "");
        Model model;
        const bool narrow = random.Roll(3) == 0;
        data.SetFiltering(true);
        for (unsigned i = 0, n = 1 + random.Roll(4), first = random.Roll(4); i < n; ++i) {
            const std::string name(1, "ABCD"[(first + i) % 4]);  // distinct names
            model.columns.emplace_back(name, 1 + random.Roll(17));
            ASSERT_TRUE(
                data.AddColumn(model.columns.back().first.c_str(), model.columns.back().second));
        }
        for (unsigned i = 0, n = 1 + random.Roll(6); i < n; ++i)
            model.predicates.push_back(random.MakePredicate());
        data.m_predicates = model.predicates;
        for (int r = 0; r < 10; ++r) {
            if (random.Roll(10) == 0) {  // a method may change the where-clause between records
                if (random.Roll(2)) {
                    model.predicates.push_back(random.MakePredicate());
                    data.m_predicates.push_back(model.predicates.back());
                } else {
                    const unsigned k = random.Roll(model.predicates.size());
                    model.predicates[k].atom = data.m_predicates[k].atom =
                        random.Atom(model.predicates[k].oper);
                }
            }
            const bool filtering = random.Roll(8) != 0;
            data.SetFiltering(filtering);
            Record record;
            for (std::size_t i = 0; i < model.columns.size(); ++i)
                record.push_back(random.Value(narrow));
            const bool accepted = Offer(data, model, record, random.Roll(3));
            const bool expected = !filtering || model.Group(0, 0, record);
            ASSERT_EQ(accepted, expected) << "round " << round << " record " << r << "\n"
                                          << tabletest::Dump(data);
            if (expected) model.accepted.push_back(record);
        }
    }
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
