// libFuzzer target: random where-clauses against random records through
// RecordFilter, each record's outcome checked against a literal evaluation of
// the grouping rule (the recursive group walk with its running balance, cached
// per record only because it is a pure function) and of every operator by
// column type. Then the same filter gets the clause with its atoms and
// operators shuffled (same shape), as a table whose parsed atoms went stale.
//
// Counts stay small enough for the literal walk, which recurses once per
// opening parenthesis; a clause with a huge count is run unchecked (it must
// still finish in time and without a sanitizer report).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "request/enums.h"
#include "request/predicate.h"
#include "result/record.h"
#include "result/record_filter.h"
#include "result/record_store.h"

namespace {

using Texts = std::vector<std::string>;

// ---- The literal rule ---------------------------------------------------------

std::string_view At(const Texts &record, std::size_t position) {
    return position < record.size() ? std::string_view(record[position]) : std::string_view();
}

// Leading white space, a sign, digits; kept modulo 2^64 (then cut by the caller).
uint64_t Number(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    uint64_t n = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') n = n * 10 + (text[i++] - '0');
    return negative ? ~n + 1 : n;
}

int TextOrder(std::string_view a, std::string_view b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]);
        const unsigned char y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

template <typename T>
int NumberOrder(std::string_view a, std::string_view b) {
    const T x = static_cast<T>(Number(a));
    const T y = static_cast<T>(Number(b));
    return x == y ? 0 : (x < y ? -1 : 1);
}

bool Compare(int32_t type, int32_t oper, std::string_view value, std::string_view atom) {
    int order = 0;
    switch (type) {
        case TYPE_BOOLEAN:
        case TYPE_STRING:
        case TYPE_UINT8:
        case TYPE_UINT64:
        case TYPE_SINT64:
        case TYPE_REAL32:
        case TYPE_REAL64:
        case TYPE_DATETIME:
            order = TextOrder(value, atom);
            break;
        case TYPE_UINT16:
            order = NumberOrder<uint16_t>(value, atom);
            break;
        case TYPE_SINT16:
            order = NumberOrder<int16_t>(value, atom);
            break;
        case TYPE_UINT32:
        case TYPE_TIMESTAMP:
            order = NumberOrder<uint32_t>(value, atom);
            break;
        case TYPE_SINT32:
            order = NumberOrder<int32_t>(value, atom);
            break;
        default:
            return true;
    }
    switch (oper) {
        case OPER_EQUAL:
            return order == 0;
        case OPER_NEQ:
            return order != 0;
        case OPER_LESS:
            return order < 0;
        case OPER_GREATER:
            return order > 0;
        case OPER_LEQ:
            return order <= 0;
        default:
            return order >= 0;
    }
}

bool Like(std::string_view atom, std::string_view value) {
    if (atom.empty()) return false;
    bool suffix = false, prefix = false;
    std::string_view text = atom;
    if (text.front() == '*') {
        suffix = true;
        text.remove_prefix(1);
    }
    if (atom.back() == '*') {  // a lone "*" ends with one too
        prefix = true;
        if (!text.empty()) text.remove_suffix(1);
    }
    if (text.size() > value.size()) return false;
    if (suffix && prefix) return value.find(text) != std::string_view::npos;
    if (suffix) return value.substr(value.size() - text.size()) == text;
    if (prefix) return value.substr(0, text.size()) == text;
    return value == text;
}

bool InSet(std::string_view atom, std::string_view value) {
    std::size_t start = 0;
    while (start <= atom.size()) {
        std::size_t comma = atom.find(',', start);
        if (comma == std::string_view::npos) comma = atom.size();
        const std::string_view piece = atom.substr(start, comma - start);
        start = comma + 1;
        if (piece.empty()) continue;
        const std::size_t dash = piece.find('-');
        if (dash == std::string_view::npos) {
            if (piece == value) return true;
            continue;
        }
        const auto v = static_cast<int32_t>(Number(value));
        if (static_cast<int32_t>(Number(piece.substr(0, dash))) <= v &&
            v <= static_cast<int32_t>(Number(piece.substr(dash + 1))))
            return true;
    }
    return false;
}

bool LiteralTest(const Predicate &p, const std::vector<tslColumn> &columns, const Texts &record,
                 const std::vector<Texts> &accepted) {
    std::size_t position = 0;
    while (position < columns.size() && columns[position].name.view() != p.target.view())
        ++position;
    if (position == columns.size()) return true;
    const std::string_view value = At(record, position);
    const std::string_view atom = p.atom.view();
    switch (p.oper) {
        case OPER_LIKE:
            return Like(atom, value);
        case OPER_NOTLIKE:
            return !Like(atom, value);
        case OPER_WITHINSET:
            return InSet(atom, value);
        case OPER_NOTINSET:
            return !InSet(atom, value);
        case OPER_UNIQUE:
            for (const Texts &earlier : accepted)
                if (At(earlier, position) == value) return false;
            return true;
        case OPER_EQUAL:
        case OPER_NEQ:
        case OPER_LESS:
        case OPER_GREATER:
        case OPER_LEQ:
        case OPER_GREATEQ:
            return Compare(columns[position].type, p.oper, value, atom);
        default:
            return true;
    }
}

class LiteralClause {
  public:
    LiteralClause(const std::vector<Predicate> &predicates, const std::vector<tslColumn> &columns,
                  const Texts &record, const std::vector<Texts> &accepted)
        : m_p(predicates), m_columns(columns), m_record(record), m_accepted(accepted) {}

    bool Passes() { return Group(0, 0); }

  private:
    bool Group(std::size_t s, const int64_t depth) {
        if (s >= m_p.size()) return true;
        const auto known = m_groups.find({s, depth});
        if (known != m_groups.end()) return known->second;
        bool result = true, first = true;
        int64_t balance = 0, d = depth;
        for (std::size_t i = s; i < m_p.size(); ++i) {
            const Predicate &p = m_p[i];
            balance += p.lparen - d;
            bool value = false, contributes = true;
            if (d < p.lparen) {
                value = Group(i, d + 1);
            } else if (balance > 0) {
                contributes = false;
            } else {
                value = LiteralTest(p, m_columns, m_record, m_accepted);
            }
            if (contributes) {
                if (first)
                    result = value;
                else if (p.logic == LOGIC_AND)
                    result = result && value;
                else if (p.logic == LOGIC_OR)
                    result = result || value;
                else
                    result = value;
            }
            balance -= p.rparen;
            if (balance < 0) break;
            d = 0;
            first = false;
        }
        m_groups.emplace(std::make_pair(s, depth), result);
        return result;
    }

    const std::vector<Predicate> &m_p;
    const std::vector<tslColumn> &m_columns;
    const Texts &m_record;
    const std::vector<Texts> &m_accepted;
    std::map<std::pair<std::size_t, int64_t>, bool> m_groups;
};

// ---- The case ------------------------------------------------------------------

constexpr std::string_view kAlphabet = "ab*-,0159 +";
constexpr int32_t kHuge = 1000;  // counts above this are not checked

void Fail(const char *what, std::size_t record) {
    std::fprintf(stderr, "record filter: %s at record %zu\n", what, record);
    std::abort();
}

// Offers `records` to a table with `filter`, checking each outcome.
void Run(RecordFilter &filter, const std::vector<Predicate> &predicates,
         const std::vector<tslColumn> &columns, const std::vector<Texts> &records, bool check) {
    RecordStore store;
    std::vector<Texts> accepted;
    for (std::size_t r = 0; r < records.size(); ++r) {
        store.Begin();
        for (const std::string &text : records[r]) store.Add(text, "");
        const bool passes = filter.Passes(predicates, columns, store.Staged(), store);
        if (filter.Refused()) {
            if (passes) Fail("a refused clause passed a record", r);
            if (check) Fail("a small clause was refused", r);
        }
        if (check && passes != LiteralClause(predicates, columns, records[r], accepted).Passes())
            Fail(passes ? "passed, the rule rejects" : "rejected, the rule passes", r);
        if (!passes) {
            store.Discard();
            continue;
        }
        store.Commit();
        filter.Accepted(store.At(store.Count() - 1), true);
        accepted.push_back(records[r]);
    }
    filter.Forget();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    FuzzInput in(data, size);
    static constexpr int32_t kTypes[] = {TYPE_STRING, TYPE_UINT16,    TYPE_SINT16, TYPE_UINT32,
                                         TYPE_SINT32, TYPE_TIMESTAMP, TYPE_CHAR16, TYPE_REAL64};
    static constexpr const char *kNames[] = {"a", "b", "c", "a b"};
    static constexpr int32_t kCounts[] = {
        0, 0, 0, 0, 1, 1, 1, 2, 2, 3, -1, -2, 5, 17, 300, std::numeric_limits<int32_t>::max()};

    std::vector<tslColumn> columns(1 + in.Below(4));
    for (tslColumn &column : columns) {
        column.name = kNames[in.Below(3)];  // "a b" names no column
        column.type = in.Pick(kTypes);
    }
    std::vector<Predicate> predicates(in.Below(13));
    bool check = true;
    for (Predicate &p : predicates) {
        p.logic = static_cast<int32_t>(in.Below(3));
        p.lparen = in.Pick(kCounts);
        p.rparen = in.Pick(kCounts);
        if (in.Byte() & 1) std::swap(p.lparen, p.rparen);  // so big rparens come too
        if (in.Byte() == 0xFF) p.lparen = std::numeric_limits<int32_t>::min();
        p.target = kNames[in.Below(4)];
        p.oper = static_cast<int32_t>(in.Below(kOperatorCount + 1));
        p.atom = in.Text(kAlphabet, 6);
        check = check && p.lparen <= kHuge;
    }
    std::vector<Texts> records(in.Below(10));
    for (Texts &record : records) {
        record.resize(in.Below(columns.size() + 2));
        for (std::string &text : record) text = in.Text(kAlphabet, 5);
    }

    RecordFilter filter;
    Run(filter, predicates, columns, records, check);
    // Same shape, other atoms and operators: the cached parses must follow.
    for (std::size_t i = 1; i < predicates.size(); ++i) {
        std::swap(predicates[i - 1].atom, predicates[i].atom);
        std::swap(predicates[i - 1].oper, predicates[i].oper);
    }
    Run(filter, predicates, columns, records, check);
    return 0;
}
