// The record filter: every operator by column type, LIKE patterns, sets,
// UNIQUE, and the grouping of predicates by their parenthesis counts.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "result/clause.h"
#include "result_helpers.h"

namespace {

Predicate P(int32_t logic, int32_t lparen, const char *target, int32_t oper, const char *atom,
            int32_t rparen) {
    return Predicate(logic, lparen, tslString(target), oper, tslString(atom), rparen);
}

Predicate P(const char *target, int32_t oper, const char *atom) {
    return P(LOGIC_NOLOGIC, 0, target, oper, atom, 0);
}

struct Column {
    const char *name;
    int32_t type;
};

// Offers each row to a table of the given columns filtered by `predicates`;
// returns the positions of the rows accepted.
std::vector<int> Accepted(const std::vector<Column> &columns, std::vector<Predicate> predicates,
                          const std::vector<std::vector<std::string>> &rows) {
    tslData data("V02.0", "NorloTessel", "Dorvex", "");
    data.m_predicates = std::move(predicates);
    data.SetFiltering(true);
    for (const Column &column : columns) EXPECT_TRUE(data.AddColumn(column.name, column.type));
    std::vector<int> accepted;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (data.AppendRecord(restest::Record(rows[i]))) accepted.push_back(static_cast<int>(i));
    EXPECT_EQ(data.m_records.size(), accepted.size());
    return accepted;
}

// One value against one atom on a one-column table.
bool Passes(int32_t type, int32_t oper, const char *atom, const char *value) {
    return Accepted({{"C", type}}, {P("C", oper, atom)}, {{value}}).size() == 1;
}

struct Case {
    int32_t type;
    int32_t oper;
    const char *atom;
    const char *value;
    bool expected;
};

TEST(FilterOperators, ComparisonsByColumnType) {
    const Case cases[] = {
        // Text order: unsigned bytes, case-sensitive, a prefix sorts first.
        {TYPE_STRING, OPER_EQUAL, "abc", "abc", true},
        {TYPE_STRING, OPER_EQUAL, "abc", "ab", false},
        {TYPE_STRING, OPER_NEQ, "abc", "abd", true},
        {TYPE_STRING, OPER_NEQ, "abc", "abc", false},
        {TYPE_STRING, OPER_LESS, "9", "10", true},
        {TYPE_STRING, OPER_LESS, "abc", "ab", true},
        {TYPE_STRING, OPER_LESS, "abc", "ABC", true},
        {TYPE_STRING, OPER_GREATER, "z", "\xC3\xA9", true},
        {TYPE_STRING, OPER_GREATER, "a", "a", false},
        {TYPE_STRING, OPER_LEQ, "a", "a", true},
        {TYPE_STRING, OPER_LEQ, "a", "b", false},
        {TYPE_STRING, OPER_GREATEQ, "a", "a", true},
        {TYPE_STRING, OPER_GREATEQ, "b", "a", false},
        {TYPE_BOOLEAN, OPER_EQUAL, "true", "TRUE", false},
        {TYPE_UINT8, OPER_LESS, "9", "10", true},
        {TYPE_UINT64, OPER_LESS, "9", "10", true},
        {TYPE_SINT64, OPER_GREATER, "-1", "-2", true},
        {TYPE_REAL32, OPER_LESS, "10", "1.5", true},
        {TYPE_REAL64, OPER_EQUAL, "1.0", "1", false},
        {TYPE_DATETIME, OPER_LESS, "2004-06-15", "2004-06-14 23:00", true},
        // uint16 and sint16: cut to 16 bits.
        {TYPE_UINT16, OPER_EQUAL, "4464", "70000", true},
        {TYPE_UINT16, OPER_EQUAL, "65535", "-1", true},
        {TYPE_UINT16, OPER_GREATER, "9", "10", true},
        {TYPE_UINT16, OPER_LESS, "9", "10", false},
        {TYPE_SINT16, OPER_LESS, "0", "40000", true},
        {TYPE_SINT16, OPER_LEQ, "3", "-5", true},
        {TYPE_SINT16, OPER_GREATEQ, "-32768", "32768", true},
        // uint32, timestamp and sint32.
        {TYPE_UINT32, OPER_GREATER, "9", "10", true},
        {TYPE_UINT32, OPER_GREATER, "4000000000", "-1", true},
        {TYPE_UINT32, OPER_EQUAL, "+42", " \t42abc", true},
        {TYPE_UINT32, OPER_EQUAL, "0", "abc", true},
        {TYPE_UINT32, OPER_EQUAL, "0", "4294967296", true},
        {TYPE_UINT32, OPER_NEQ, "3000000000", "3000000000", false},
        {TYPE_TIMESTAMP, OPER_LESS, "1087295422", "999999999", true},
        {TYPE_SINT32, OPER_LESS, "0", "-1", true},
        {TYPE_SINT32, OPER_GREATER, "9", "10", true},
        {TYPE_SINT32, OPER_LEQ, "- 1", "0", true},
        // Types without a comparison pass every record.
        {TYPE_CHAR16, OPER_EQUAL, "x", "y", true},
        {TYPE_SINT8, OPER_LESS, "1", "9", true},
        {TYPE_ENUM, OPER_NEQ, "x", "x", true},
        {TYPE_BITMASK, OPER_GREATER, "9", "1", true},
        // "nooperator" and an operator code outside the table pass.
        {TYPE_STRING, OPER_NOOPERATOR, "x", "y", true},
        {TYPE_STRING, 42, "x", "y", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Passes(c.type, c.oper, c.atom, c.value), c.expected)
            << "type " << c.type << " oper " << c.oper << " atom [" << c.atom << "] value ["
            << c.value << "]";
}

TEST(FilterOperators, LikePatterns) {
    const Case cases[] = {
        {TYPE_STRING, OPER_LIKE, "D*", "Delta", true},
        {TYPE_STRING, OPER_LIKE, "D*", "D", true},
        {TYPE_STRING, OPER_LIKE, "D*", "delta", false},
        {TYPE_STRING, OPER_LIKE, "*h", "Bath", true},
        {TYPE_STRING, OPER_LIKE, "*h", "h", true},
        {TYPE_STRING, OPER_LIKE, "*h", "Bathe", false},
        {TYPE_STRING, OPER_LIKE, "*bath", "ath", false},
        {TYPE_STRING, OPER_LIKE, "*e*", "Pine", true},
        {TYPE_STRING, OPER_LIKE, "*e*", "e", true},
        {TYPE_STRING, OPER_LIKE, "*e*", "Pin", false},
        {TYPE_STRING, OPER_LIKE, "QRT", "QRT", true},
        {TYPE_STRING, OPER_LIKE, "QRT", "QRTX", false},
        {TYPE_STRING, OPER_LIKE, "a*b", "a*b", true},
        {TYPE_STRING, OPER_LIKE, "a*b", "axb", false},
        {TYPE_STRING, OPER_LIKE, "*", "anything", true},
        {TYPE_STRING, OPER_LIKE, "*", "", true},
        {TYPE_STRING, OPER_LIKE, "**", "x", true},
        {TYPE_STRING, OPER_LIKE, "D**", "D*x", true},
        {TYPE_STRING, OPER_LIKE, "D**", "Dx", false},
        {TYPE_STRING, OPER_LIKE, "", "", false},
        {TYPE_STRING, OPER_NOTLIKE, "", "", true},
        {TYPE_STRING, OPER_NOTLIKE, "D*", "Delta", false},
        {TYPE_STRING, OPER_NOTLIKE, "D*", "delta", true},
        // The column type plays no part.
        {TYPE_UINT32, OPER_LIKE, "1*", "100", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Passes(c.type, c.oper, c.atom, c.value), c.expected)
            << "oper " << c.oper << " atom [" << c.atom << "] value [" << c.value << "]";
}

TEST(FilterOperators, Sets) {
    const Case cases[] = {
        {TYPE_STRING, OPER_WITHINSET, "1-10,35,2001", "5", true},
        {TYPE_STRING, OPER_WITHINSET, "1-10,35,2001", "1", true},
        {TYPE_STRING, OPER_WITHINSET, "1-10,35,2001", "10", true},
        {TYPE_STRING, OPER_WITHINSET, "1-10,35,2001", "35", true},
        {TYPE_STRING, OPER_WITHINSET, "1-10,35,2001", "2001", true},
        {TYPE_STRING, OPER_WITHINSET, "1-10,35,2001", "035", false},
        {TYPE_STRING, OPER_WITHINSET, "1-10,35,2001", "11", false},
        {TYPE_STRING, OPER_WITHINSET, "1-10,35,2001", "abc", false},
        {TYPE_STRING, OPER_WITHINSET, "0-5", "abc", true},
        {TYPE_STRING, OPER_WITHINSET, "-5", "3", true},
        {TYPE_STRING, OPER_WITHINSET, "-5", "-1", false},
        {TYPE_STRING, OPER_WITHINSET, "5-", "5", false},
        {TYPE_STRING, OPER_WITHINSET, "5-", "0", false},
        {TYPE_STRING, OPER_WITHINSET, "a,b", "a", true},
        {TYPE_STRING, OPER_WITHINSET, "a,b", "b", true},
        {TYPE_STRING, OPER_WITHINSET, "a,b", "a,b", false},
        {TYPE_STRING, OPER_WITHINSET, "a, b", "b", false},
        {TYPE_STRING, OPER_WITHINSET, "a, b", " b", true},
        {TYPE_STRING, OPER_WITHINSET, ",,a,,", "a", true},
        {TYPE_STRING, OPER_WITHINSET, ",,a,,", "", false},
        {TYPE_STRING, OPER_WITHINSET, ",,,", "", false},
        {TYPE_STRING, OPER_WITHINSET, "", "", false},
        {TYPE_STRING, OPER_WITHINSET, "A", "a", false},
        {TYPE_STRING, OPER_WITHINSET, "-10--5", "-7", false},  // low "", high "10--5": 0 to 10
        {TYPE_STRING, OPER_NOTINSET, "", "x", true},
        {TYPE_STRING, OPER_NOTINSET, "1-10,35,2001", "35", false},
        {TYPE_STRING, OPER_NOTINSET, "1-10,35,2001", "36", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Passes(c.type, c.oper, c.atom, c.value), c.expected)
            << "oper " << c.oper << " atom [" << c.atom << "] value [" << c.value << "]";
}

TEST(FilterOperators, AtomsAreParsedOncePerPredicate) {
    tslData data("V02.0", "NorloTessel", "Dorvex", "");
    data.m_predicates = {P("C", OPER_LIKE, "D*"), P(LOGIC_AND, 0, "C", OPER_WITHINSET, "Dx,E", 0)};
    data.SetFiltering(true);
    data.AddColumn("C", TYPE_STRING);
    EXPECT_TRUE(FilterAccess::Filter(data, *restest::Record({"Dx"})));
    const std::shared_ptr<ParsedAtom> like = data.m_predicates[0].parsed;
    const std::shared_ptr<ParsedAtom> set = data.m_predicates[1].parsed;
    ASSERT_TRUE(like && set);
    EXPECT_FALSE(FilterAccess::Filter(data, *restest::Record({"E"})));
    EXPECT_EQ(data.m_predicates[0].parsed, like);
    EXPECT_EQ(data.m_predicates[1].parsed, set);
    // A cache that outlived a change of the atom is noticed.
    data.m_predicates[0].atom = "E*";
    EXPECT_TRUE(FilterAccess::Filter(data, *restest::Record({"E"})));
    EXPECT_NE(data.m_predicates[0].parsed, like);
}

TEST(FilterOperators, MissingColumnsAndValues) {
    const std::vector<Column> columns = {{"Name", TYPE_STRING}, {"Age", TYPE_UINT32}};
    // No such column: never rejects.
    EXPECT_EQ(Accepted(columns, {P("Nope", OPER_EQUAL, "x")}, {{"a", "1"}, {"b"}}),
              (std::vector<int>{0, 1}));
    // A value the record lacks reads as the empty text.
    EXPECT_EQ(Accepted(columns, {P("Age", OPER_EQUAL, "")}, {{"a", "1"}, {"b"}}),
              (std::vector<int>{1}));
    EXPECT_EQ(Accepted(columns, {P("Age", OPER_LIKE, "*")}, {{"b"}}), (std::vector<int>{0}));
    EXPECT_EQ(Accepted(columns, {P("Age", OPER_WITHINSET, "0-5")}, {{"b"}}), (std::vector<int>{0}));
    EXPECT_EQ(Accepted(columns, {P("Age", OPER_LESS, "1")}, {{"b"}}), (std::vector<int>{0}));
    // Duplicate column names: the first one is tested.
    EXPECT_EQ(Accepted({{"X", TYPE_STRING}, {"X", TYPE_STRING}}, {P("X", OPER_EQUAL, "a")},
                       {{"a", "b"}, {"b", "a"}}),
              (std::vector<int>{0}));
    // Values past the last column are never tested.
    EXPECT_EQ(Accepted({{"A", TYPE_STRING}}, {P("A", OPER_EQUAL, "1")}, {{"1", "x", "y"}}),
              (std::vector<int>{0}));
}

TEST(FilterOperators, Unique) {
    const std::vector<Column> columns = {{"Name", TYPE_STRING}, {"Age", TYPE_UINT32}};
    EXPECT_EQ(
        Accepted(
            columns, {P("Name", OPER_UNIQUE, "ignored")},
            {{"Ann", "1"}, {"Bob", "2"}, {"Ann", "3"}, {"ann", "4"}, {"Bob", "5"}, {"Ann ", "6"}}),
        (std::vector<int>{0, 1, 3, 5}));
    // A record the filter rejected does not count.
    EXPECT_EQ(Accepted(columns,
                       {P("Name", OPER_UNIQUE, ""), P(LOGIC_AND, 0, "Age", OPER_GREATER, "10", 0)},
                       {{"Ann", "5"}, {"Ann", "20"}, {"Ann", "30"}, {"Bob", "11"}}),
              (std::vector<int>{1, 3}));
    // Missing values are empty texts, so only the first record lacking one passes.
    EXPECT_EQ(Accepted(columns, {P("Age", OPER_UNIQUE, "")}, {{"a"}, {"b"}, {"c", ""}, {"d", "1"}}),
              (std::vector<int>{0, 3}));
    // OR with a failing test: UNIQUE still decides.
    EXPECT_EQ(Accepted(columns,
                       {P("Name", OPER_EQUAL, "Zed"), P(LOGIC_OR, 0, "Name", OPER_UNIQUE, "", 0)},
                       {{"Ann"}, {"Ann"}, {"Zed"}, {"Zed"}}),
              (std::vector<int>{0, 2, 3}));
}

TEST(FilterOperators, UniqueKnowsRecordsAcceptedBeforeItWasAsked) {
    tslData data("V02.0", "NorloTessel", "Dorvex", "");
    data.m_predicates = {P("Name", OPER_UNIQUE, "")};
    data.SetFiltering(false);
    data.AddColumn("Name", TYPE_STRING);
    EXPECT_TRUE(data.AddRecord("Ann", nullptr));
    EXPECT_TRUE(data.AddRecord("Ann", nullptr));  // filtering off: accepted
    data.SetFiltering(true);
    EXPECT_FALSE(data.AddRecord("Ann", nullptr));
    EXPECT_TRUE(data.AddRecord("Cid", nullptr));
    data.SetFiltering(false);
    EXPECT_TRUE(data.AddRecord("Dan", nullptr));  // still tracked while filtering is off
    data.SetFiltering(true);
    EXPECT_FALSE(data.AddRecord("Cid", nullptr));
    EXPECT_FALSE(data.AddRecord("Dan", nullptr));
    EXPECT_EQ(data.m_records.size(), 4u);
}

// ---- grouping ----------------------------------------------------------------

struct Shape {
    int32_t logic;
    int32_t lparen;
    int32_t rparen;
};

// Predicate i tests column i for "1"; every combination of values is offered
// and compared with `expected` of the bits (bit i: predicate i holds).
void ExpectClause(const std::vector<Shape> &shapes, const std::function<bool(unsigned)> &expected,
                  const std::string &label) {
    static const char *const kNames[] = {"A", "B", "C", "D", "E", "F"};
    std::vector<Column> columns;
    std::vector<Predicate> predicates;
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        columns.push_back({kNames[i], TYPE_STRING});
        predicates.push_back(
            P(shapes[i].logic, shapes[i].lparen, kNames[i], OPER_EQUAL, "1", shapes[i].rparen));
    }
    std::vector<std::vector<std::string>> rows;
    std::vector<int> wanted;
    for (unsigned bits = 0; bits < (1u << shapes.size()); ++bits) {
        std::vector<std::string> row;
        for (std::size_t i = 0; i < shapes.size(); ++i) row.push_back((bits >> i) & 1 ? "1" : "0");
        rows.push_back(row);
        if (expected(bits)) wanted.push_back(static_cast<int>(bits));
    }
    EXPECT_EQ(Accepted(columns, predicates, rows), wanted) << label;
}

bool Bit(unsigned bits, int i) {
    return (bits >> i) & 1;
}

TEST(FilterGrouping, Clauses) {
    constexpr int32_t N = LOGIC_NOLOGIC, A = LOGIC_AND, O = LOGIC_OR;
    ExpectClause(
        {{O, 0, 0}}, [](unsigned b) { return Bit(b, 0); }, "first logic ignored");
    ExpectClause(
        {{N, 0, 0}, {O, 0, 0}, {A, 0, 0}},
        [](unsigned b) { return (Bit(b, 0) || Bit(b, 1)) && Bit(b, 2); },
        "P OR Q AND R is (P OR Q) AND R");
    ExpectClause(
        {{N, 0, 0}, {N, 0, 0}}, [](unsigned b) { return Bit(b, 1); },
        "nologic keeps only the second");
    ExpectClause(
        {{N, 0, 0}, {A, 0, 0}, {N, 0, 0}, {O, 0, 0}},
        [](unsigned b) { return Bit(b, 2) || Bit(b, 3); }, "nologic discards the result");
    ExpectClause(
        {{N, 1, 0}, {A, 0, 1}, {O, 0, 0}},
        [](unsigned b) { return (Bit(b, 0) && Bit(b, 1)) || Bit(b, 2); }, "(P AND Q) OR R");
    ExpectClause(
        {{N, 0, 0}, {O, 1, 0}, {A, 0, 1}},
        [](unsigned b) { return Bit(b, 0) || (Bit(b, 1) && Bit(b, 2)); }, "P OR (Q AND R)");
    ExpectClause(
        {{N, 0, 0}, {A, 0, 1}, {O, 0, 0}}, [](unsigned b) { return Bit(b, 0) && Bit(b, 1); },
        "an unmatched closing parenthesis ends the evaluation");
    ExpectClause(
        {{N, 0, 0}, {A, 1, 0}, {O, 0, 0}},
        [](unsigned b) { return Bit(b, 0) && (Bit(b, 1) || Bit(b, 2)); },
        "an unclosed group runs to the end");
    ExpectClause(
        {{N, 0, 0}, {O, 1, 1}, {A, 0, 0}},
        [](unsigned b) { return (Bit(b, 0) || Bit(b, 1)) && Bit(b, 2); }, "a group of one");
    ExpectClause(
        {{N, 2, 0}, {O, 0, 1}, {A, 0, 1}, {O, 0, 0}},
        [](unsigned b) { return ((Bit(b, 0) || Bit(b, 1)) && Bit(b, 2)) || Bit(b, 3); },
        "((P OR Q) AND R) OR S");
    ExpectClause(
        {{N, 1, 1}, {A, 1, 0}, {A, 0, 1}},
        [](unsigned b) { return Bit(b, 0) && Bit(b, 1) && Bit(b, 2); }, "(P) AND (Q AND R)");
    ExpectClause(
        {{O, 1, 0}, {O, 0, 1}, {A, 1, 0}, {O, 0, 1}},
        [](unsigned b) { return (Bit(b, 0) || Bit(b, 1)) && (Bit(b, 2) || Bit(b, 3)); },
        "(P OR Q) AND (R OR S)");
    // A group opened inside another group is met again at the outer level and
    // combined there once more, by its own logic: (P AND (Q) OR R) becomes
    // ((P AND Q) OR R) AND Q.
    ExpectClause(
        {{N, 1, 0}, {A, 1, 1}, {O, 0, 1}},
        [](unsigned b) { return ((Bit(b, 0) && Bit(b, 1)) || Bit(b, 2)) && Bit(b, 1); },
        "nested group combined again");
}

TEST(FilterGrouping, SampleGroupedLinkThroughTheParser) {
    // (Name LIKE D*) AND (Age GREATER 10 AND Age LESS 100), as the sample link sends it.
    const std::string where =
        "<predicat lparen=\"1\" rparen=\"1\"><compare oper=\"LIKE\"><target name=\"Name\"/>"
        "<atom value=\"D*\"/></compare></predicat><logic oper=\"AND\"/>"
        "<predicat lparen=\"1\"><compare oper=\"GREATER\"><target name=\"Age\"/>"
        "<atom value=\"10\"/></compare></predicat><logic oper=\"AND\"/>"
        "<predicat rparen=\"1\"><compare oper=\"LESS\"><target name=\"Age\"/>"
        "<atom value=\"100\"/></compare></predicat>";
    auto data = restest::Parsed(
        restest::BareRequest(restest::Select("Sample Age Detail", "<all/>", where)));
    ASSERT_EQ(data->m_predicates.size(), 3u);
    data->SetFiltering(true);
    data->AddColumn("Name", TYPE_STRING);
    data->AddColumn("Age", TYPE_UINT32);
    const char *rows[][2] = {{"Dalkah", "2001"}, {"Delmor", "35"}, {"QRT", "92"},
                             {"D", "11"},        {"Dx", "10"},     {"Dy", "99"}};
    std::vector<std::string> accepted;
    for (const auto &row : rows)
        if (data->AddRecord(row[0], row[1], nullptr)) accepted.emplace_back(row[0]);
    EXPECT_EQ(accepted, (std::vector<std::string>{"Delmor", "D", "Dy"}));
}

TEST(FilterGrouping, FilteringFlagIsReadPerRecord) {
    tslData data("V02.0", "NorloTessel", "Dorvex", "");
    data.m_predicates = {P("Name", OPER_EQUAL, "a")};
    data.SetFiltering(true);
    data.AddColumn("Name", TYPE_STRING);
    EXPECT_FALSE(data.AddRecord("b", nullptr));
    data.SetFiltering(false);
    EXPECT_TRUE(data.AddRecord("b", nullptr));
    data.SetFiltering(true);
    EXPECT_TRUE(data.AddRecord("a", nullptr));
    EXPECT_FALSE(data.AddRecord("c", nullptr));
    // The clause is recompiled when the predicate list changes.
    data.m_predicates.push_back(P(LOGIC_OR, 0, "Name", OPER_EQUAL, "c", 0));
    EXPECT_TRUE(data.AddRecord("c", nullptr));
}

// The grouping exactly as written: recursive, re-evaluating, exponential.
class LiteralClause {
  public:
    LiteralClause(const std::vector<Shape> &shapes, const std::vector<bool> &values)
        : m_shapes(shapes), m_values(values) {}

    bool Group(std::size_t s, int64_t d) {
        if (s >= m_shapes.size()) return true;
        bool result = true;
        bool first = true;
        int64_t balance = 0;
        for (std::size_t i = s; i < m_shapes.size(); ++i) {
            const Shape &p = m_shapes[i];
            balance += p.lparen - d;
            bool value = false;
            bool contributes = true;
            if (d < p.lparen) {
                value = Group(i, d + 1);
            } else if (balance > 0) {
                contributes = false;
            } else {
                tested.insert(i);
                value = m_values[i];
            }
            if (contributes) {
                if (first) {
                    result = value;
                } else if (p.logic == LOGIC_AND) {
                    result = result && value;
                } else if (p.logic == LOGIC_OR) {
                    result = result || value;
                } else {
                    result = value;
                }
            }
            balance -= p.rparen;
            if (balance < 0) return result;
            d = 0;
            first = false;
        }
        return result;
    }

    std::set<std::size_t> tested;

  private:
    std::vector<Shape> m_shapes;
    std::vector<bool> m_values;
};

std::vector<Predicate> FromShapes(const std::vector<Shape> &shapes) {
    std::vector<Predicate> predicates;
    for (const Shape &s : shapes)
        predicates.push_back(P(s.logic, s.lparen, "A", OPER_EQUAL, "1", s.rparen));
    return predicates;
}

TEST(FilterGrouping, MatchesTheLiteralRuleOnRandomClauses) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 4000; ++round) {
        const std::size_t n = 1 + random() % 8;
        std::vector<Shape> shapes;
        for (std::size_t i = 0; i < n; ++i) {
            // Mostly small counts, sometimes negative ones (the parser reads any number).
            const auto count = [&] {
                return static_cast<int32_t>(random() % 7) - (random() % 5 == 0 ? 2 : 0);
            };
            shapes.push_back({static_cast<int32_t>(random() % 3), count() % 4, count() % 4});
        }
        const CompiledClause compiled(FromShapes(shapes));
        for (int trial = 0; trial < 8; ++trial) {
            std::vector<bool> values;
            for (std::size_t i = 0; i < n; ++i) values.push_back(random() & 1);
            LiteralClause literal(shapes, values);
            const bool expected = literal.Group(0, 0);
            std::set<std::size_t> tested;
            const bool got = compiled.Evaluate([&](std::size_t i) {
                EXPECT_TRUE(tested.insert(i).second) << "predicate " << i << " tested twice";
                return static_cast<bool>(values[i]);
            });
            std::string text;
            for (const Shape &s : shapes)
                text += "(" + std::to_string(s.logic) + "," + std::to_string(s.lparen) + "," +
                        std::to_string(s.rparen) + ")";
            ASSERT_EQ(got, expected) << text;
            // Every predicate the rule tests is tested (no short-circuit), and no other.
            ASSERT_EQ(tested, literal.tested) << text;
        }
    }
}

TEST(FilterGrouping, HugeCountsAndLongClausesStaySmall) {
    const CompiledClause empty(std::vector<Predicate>{});
    EXPECT_TRUE(empty.Evaluate([](std::size_t) { return false; }));

    // A group opened 2^31 - 1 times: no recursion per parenthesis.
    const std::vector<Shape> deep = {{LOGIC_NOLOGIC, INT32_MAX, 0}, {LOGIC_AND, 0, 0}};
    const CompiledClause compiled(FromShapes(deep));
    EXPECT_LT(compiled.NodeCount(), 16u);
    for (unsigned bits = 0; bits < 4; ++bits)
        EXPECT_EQ(compiled.Evaluate([&](std::size_t i) { return Bit(bits, static_cast<int>(i)); }),
                  Bit(bits, 0) && Bit(bits, 1));
    const std::vector<Shape> closing = {{LOGIC_NOLOGIC, 0, INT32_MAX},
                                        {LOGIC_OR, INT32_MAX, INT32_MAX}};
    const CompiledClause closed(FromShapes(closing));
    EXPECT_TRUE(closed.Evaluate([](std::size_t i) { return i == 0; }));
    EXPECT_FALSE(closed.Evaluate([](std::size_t i) { return i == 1; }));

    // Every predicate opening a group: taken literally, 2^n evaluations.
    std::vector<Shape> chain(60, Shape{LOGIC_OR, 1, 0});
    chain.back().rparen = 60;
    const CompiledClause long_(FromShapes(chain));
    EXPECT_LT(long_.NodeCount(), 1000u);
    EXPECT_TRUE(long_.Evaluate([](std::size_t i) { return i == 59; }));
    EXPECT_FALSE(long_.Evaluate([](std::size_t) { return false; }));

    // Deep nesting, one level closed per predicate.
    std::vector<Shape> nested(500, Shape{LOGIC_AND, 0, 1});
    nested.front() = {LOGIC_NOLOGIC, 500, 0};
    const CompiledClause nest(FromShapes(nested));
    EXPECT_LT(nest.NodeCount(), 5000u);
    EXPECT_TRUE(nest.Evaluate([](std::size_t) { return true; }));
    EXPECT_FALSE(nest.Evaluate([](std::size_t i) { return i != 250; }));
}

}  // namespace
