// libFuzzer target: random where-clauses, parenthesis counts up to the int32
// limits, against random records through RecordFilter; then the same filter
// gets the clause with its atoms and operators shuffled (same shape), as a
// table whose parsed atoms went stale. Each must finish in time and without a
// sanitizer report, and a refused clause must pass no record. The outcomes
// themselves are checked in tests/result, against outcomes on random tables
// that a literal model of the rule worked out.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "request/enums.h"
#include "request/predicate.h"
#include "result/record_filter.h"
#include "result/record_store.h"

namespace {

using Texts = std::vector<std::string>;

constexpr std::string_view kAlphabet = "ab*-,0159 +";

void Run(RecordFilter &filter, const std::vector<Predicate> &predicates,
         const std::vector<tslColumn> &columns, const std::vector<Texts> &records) {
    RecordStore store;
    for (const Texts &record : records) {
        store.Begin();
        for (const std::string &text : record) store.Add(text, "");
        const bool passes = filter.Passes(predicates, columns, store.Staged(), store);
        if (filter.Refused() && passes) {
            std::fprintf(stderr, "record filter: a refused clause passed a record\n");
            std::abort();
        }
        if (!passes) {
            store.Discard();
            continue;
        }
        store.Commit();
        filter.Accepted(store.At(store.Count() - 1), true);
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
    for (Predicate &p : predicates) {
        p.logic = static_cast<int32_t>(in.Below(3));
        p.lparen = in.Pick(kCounts);
        p.rparen = in.Pick(kCounts);
        if (in.Byte() & 1) std::swap(p.lparen, p.rparen);  // so big rparens come too
        if (in.Byte() == 0xFF) p.lparen = std::numeric_limits<int32_t>::min();
        p.target = kNames[in.Below(4)];
        p.oper = static_cast<int32_t>(in.Below(kOperatorCount + 1));
        p.atom = in.Text(kAlphabet, 6);
    }
    std::vector<Texts> records(in.Below(10));
    for (Texts &record : records) {
        record.resize(in.Below(columns.size() + 2));
        for (std::string &text : record) text = in.Text(kAlphabet, 5);
    }

    RecordFilter filter;
    Run(filter, predicates, columns, records);
    // Same shape, other atoms and operators: the cached parses must follow.
    for (std::size_t i = 1; i < predicates.size(); ++i) {
        std::swap(predicates[i - 1].atom, predicates[i].atom);
        std::swap(predicates[i - 1].oper, predicates[i].oper);
    }
    Run(filter, predicates, columns, records);
    return 0;
}
