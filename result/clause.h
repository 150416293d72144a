// The grouping of a where-clause by its parenthesis counts, worked out once per
// request and then evaluated for every record.
//
// Evaluating a group that starts at predicate s with depth d goes left to right
// with a running balance: each predicate adds its lparen less d (d is 0 after
// the group's first predicate); one whose lparen exceeds d opens a nested
// group at itself with depth d + 1; one that lies inside a group already
// covered (balance above 0) contributes nothing; any other is tested. Values
// are combined strictly left to right by the predicate's logic (AND, OR, or
// "nologic", which discards the result so far); the first value of a group
// stands alone. After each predicate its rparen is subtracted, and the group
// ends once the balance falls below 0. The whole clause is the group at 0 with
// depth 0, so an unmatched closing parenthesis ends the evaluation there.
//
// Taken literally this recurses once per opening parenthesis (lparen comes
// from the request and may be 2^31) and evaluates nested groups again and
// again (exponential in the number of predicates). The grouping depends only
// on the counts, never on the record, so it is compiled into a graph that
// shares every repeated evaluation; each record then costs one pass over the
// graph, and each predicate is tested at most once per record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "request/predicate.h"

class CompiledClause {
  public:
    // Steps of work a clause of n predicates may take to compile (a step costs
    // up to about a microsecond): kWorkBase + kWorkPerPredicate * n. Groupings
    // that share their nested groups take a few steps per predicate; random
    // counts take about n^1.5 (5,000 predicates about 240,000 steps), the
    // worst n^2.
    static constexpr std::size_t kWorkPerPredicate = 8;
    static constexpr std::size_t kWorkBase = std::size_t{1} << 18;

    // An empty clause passes every record. A clause whose compilation would
    // take more than its work allowance is not compiled: it is TooComplex.
    explicit CompiledClause(const std::vector<Predicate> &predicates);

    bool TooComplex() const { return m_tooComplex; }
    // Steps of work the compilation took (nodes made and predicates visited).
    std::size_t Work() const { return m_work; }

    // True when `predicates` has the logic and parenthesis counts this was
    // compiled from (atoms, targets and operators may differ).
    bool Fits(const std::vector<Predicate> &predicates) const;

    // `test(i)` tests predicate i against the record; false for every record
    // when TooComplex. Not reentrant: one evaluation at a time per object.
    template <typename Test>
    bool Evaluate(Test &&test) const;

  private:
    // Values are 0 (false) and 1 (true). A walk yields a transform of the
    // result it is applied to: kKeep leaves it, 0 or 1 replaces it.
    static constexpr uint8_t kKeep = 2;

    enum Kind : uint8_t {
        kTest,   // a: predicate index
        kGroup,  // a: first value (node); b: walk applied to it, or -1
        kWalk,   // a: item value (node) combined by `logic`, or -1; b: rest, or -1
    };
    struct Node {
        Kind kind;
        int32_t logic;
        int32_t a;
        int32_t b;
    };
    struct Shape {
        int32_t logic;
        int32_t lparen;
        int32_t rparen;
    };

    static uint8_t Apply(uint8_t transform, uint8_t value) {
        return transform == kKeep ? value : transform;
    }
    static uint8_t Then(uint8_t first, uint8_t second) { return second == kKeep ? first : second; }
    static uint8_t Item(int32_t logic, uint8_t value) {
        if (logic == LOGIC_AND) return value ? kKeep : 0;
        if (logic == LOGIC_OR) return value ? 1 : kKeep;
        return value;
    }

    std::vector<Node> m_nodes;
    std::vector<int32_t> m_order;  // nodes reachable from the root, children first
    int32_t m_root = -1;
    std::vector<Shape> m_shape;
    mutable std::vector<uint8_t> m_values;
    bool m_tooComplex = false;
    std::size_t m_work = 0;

    friend class ClauseBuilder;
};

template <typename Test>
bool CompiledClause::Evaluate(Test &&test) const {
    if (m_tooComplex) return false;
    if (m_root < 0) return true;
    for (const int32_t id : m_order) {
        const Node &node = m_nodes[static_cast<std::size_t>(id)];
        uint8_t value;
        switch (node.kind) {
            case kTest:
                value = test(static_cast<std::size_t>(node.a)) ? 1 : 0;
                break;
            case kGroup:
                value = m_values[static_cast<std::size_t>(node.a)];
                if (node.b >= 0) value = Apply(m_values[static_cast<std::size_t>(node.b)], value);
                break;
            default: {
                const uint8_t item =
                    node.a < 0 ? kKeep
                               : Item(node.logic, m_values[static_cast<std::size_t>(node.a)]);
                value = node.b < 0 ? item : Then(item, m_values[static_cast<std::size_t>(node.b)]);
                break;
            }
        }
        m_values[static_cast<std::size_t>(id)] = value;
    }
    return m_values[static_cast<std::size_t>(m_root)] != 0;
}
