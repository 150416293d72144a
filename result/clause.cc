// Compiles the grouping of a where-clause (see clause.h).
//
// Notation: l(i) and r(i) are the parenthesis counts of predicate i, P(i) the
// sum of l - r over predicates 0..i and Q(i) = P(i-1) + l(i). A group started
// at s with depth d keeps a balance of (P(i) - P(s-1) - d) after predicate i,
// so with the absolute threshold t = P(s-1) + d it
//   - ends after predicate i when P(i) < t,
//   - skips a later predicate i without opening parenthesis when Q(i) > t,
//   - opens a nested group (at i, depth 1) at a later predicate with l(i) > 0.
// The group's own first value is the nested group (s, d + 1) while d < l(s),
// else the test of predicate s.
//
// Everything after the first value is a "walk" from s + 1. A walk from j at
// threshold t only compares t with the values P(i) + 1 and Q(i) of the
// predicates i >= j, so it is fixed by j and the largest of those values that
// is <= t (its class); walks are shared between groups by that key. A run of
// depths whose thresholds share a class applies the same walk again and again;
// a walk maps the result to itself or to a constant, so applying it once is
// the same as applying it any number of times. That bounds the work for a
// predicate with lparen 2^31 by the number of classes.
#include "result/clause.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {
// Thrown when the work allowance is spent; the partial graph is dropped.
struct OutOfWork {};
}  // namespace

class ClauseBuilder {
  public:
    ClauseBuilder(CompiledClause &out, const std::vector<Predicate> &predicates)
        : m_out(out),
          m_n(predicates.size()),
          m_allowance(CompiledClause::kWorkBase + CompiledClause::kWorkPerPredicate * m_n) {
        m_l.reserve(m_n);
        m_pre.assign(m_n + 1, 0);
        for (std::size_t i = 0; i < m_n; ++i) {
            const Predicate &p = predicates[i];
            m_out.m_shape.push_back({p.logic, p.lparen, p.rparen});
            m_l.push_back(p.lparen);
            m_pre[i + 1] = m_pre[i] + p.lparen - static_cast<int64_t>(p.rparen);
        }
        BuildClassTree();
        BuildStopTable();
        m_testNode.assign(m_n, -1);
        m_group1.assign(m_n, -1);
    }

    void Build() {
        // Nested groups only look forward, so build them from the back.
        for (std::size_t s = m_n; s-- > 0;)
            if (m_l[s] > 0) m_group1[s] = Chain(s, 1);
        m_out.m_root = Chain(0, 0);
        MarkReachable();
    }

  private:
    using Node = CompiledClause::Node;

    void Spend(std::size_t steps) {
        m_out.m_work += steps;
        if (m_out.m_work > m_allowance) throw OutOfWork{};
    }

    int64_t P(std::size_t i) const { return m_pre[i + 1]; }
    int64_t Q(std::size_t i) const { return m_pre[i] + m_l[i]; }

    // The values a walk compares its threshold with, for predicate i.
    void ClassValues(std::size_t i, std::vector<int64_t> &out) const {
        out.push_back(P(i) + 1);
        out.push_back(Q(i));
    }

    // A merge-sort tree over the predicates: each node holds the sorted class
    // values of its range.
    void BuildClassTree() {
        m_leaves = 1;
        while (m_leaves < m_n) m_leaves <<= 1;
        m_classTree.assign(2 * m_leaves, {});
        for (std::size_t i = 0; i < m_n; ++i) {
            std::vector<int64_t> &leaf = m_classTree[m_leaves + i];
            ClassValues(i, leaf);
            std::sort(leaf.begin(), leaf.end());
        }
        for (std::size_t node = m_leaves; node-- > 1;) {
            const std::vector<int64_t> &left = m_classTree[2 * node];
            const std::vector<int64_t> &right = m_classTree[2 * node + 1];
            std::vector<int64_t> &merged = m_classTree[node];
            merged.resize(left.size() + right.size());
            std::merge(left.begin(), left.end(), right.begin(), right.end(), merged.begin());
        }
    }

    // The class of threshold t for walks from j: the largest class value of the
    // predicates j.. that is <= t, or the lowest int64 when there is none.
    int64_t ClassOf(std::size_t j, int64_t t) const {
        int64_t best = std::numeric_limits<int64_t>::min();
        const auto consider = [&](const std::vector<int64_t> &values) {
            const auto above = std::upper_bound(values.begin(), values.end(), t);
            if (above != values.begin()) best = std::max(best, *(above - 1));
        };
        for (std::size_t l = j + m_leaves, r = m_n + m_leaves; l < r; l >>= 1, r >>= 1) {
            if (l & 1) consider(m_classTree[l++]);
            if (r & 1) consider(m_classTree[--r]);
        }
        return best;
    }

    // A predicate that a walk at threshold t neither skips nor passes over:
    // it opens a group, is tested, or ends the walk; that is R(i) <= t.
    int64_t StopValue(std::size_t i) const {
        if (m_l[i] > 0) return std::numeric_limits<int64_t>::min();
        return std::min(Q(i), P(i) + 1);
    }

    void BuildStopTable() {
        m_stopMin.emplace_back();
        for (std::size_t i = 0; i < m_n; ++i) m_stopMin[0].push_back(StopValue(i));
        for (std::size_t k = 1; (std::size_t{1} << k) <= m_n; ++k) {
            const std::size_t half = std::size_t{1} << (k - 1);
            const std::vector<int64_t> &below = m_stopMin[k - 1];
            std::vector<int64_t> level;
            for (std::size_t i = 0; i + 2 * half <= m_n; ++i)
                level.push_back(std::min(below[i], below[i + half]));
            m_stopMin.push_back(std::move(level));
        }
    }

    // The first predicate at or after i with R <= t, or m_n.
    std::size_t NextStop(std::size_t i, int64_t t) const {
        for (std::size_t k = m_stopMin.size(); k-- > 0;) {
            const std::size_t width = std::size_t{1} << k;
            if (i + width <= m_n && m_stopMin[k][i] > t) i += width;
        }
        return i;
    }

    int32_t Add(CompiledClause::Kind kind, int32_t logic, int32_t a, int32_t b) {
        Spend(1);
        m_out.m_nodes.push_back(Node{kind, logic, a, b});
        return static_cast<int32_t>(m_out.m_nodes.size() - 1);
    }

    int32_t TestNode(std::size_t i) {
        if (m_testNode[i] < 0)
            m_testNode[i] = Add(CompiledClause::kTest, 0, static_cast<int32_t>(i), -1);
        return m_testNode[i];
    }

    int32_t Group(int32_t first, int32_t walk) {
        return walk < 0 ? first : Add(CompiledClause::kGroup, 0, first, walk);
    }

    // What follows the first predicate s of a group at threshold t.
    int32_t Tail(std::size_t s, int64_t t) { return P(s) < t ? -1 : Walk(s + 1, t); }

    int32_t Walk(std::size_t i, int64_t t) {
        std::vector<std::pair<std::size_t, int64_t>> chain;  // (position, class)
        int32_t rest = -1;
        for (std::size_t j = NextStop(i, t); j < m_n; j = NextStop(j + 1, t)) {
            Spend(1);
            const int64_t cls = ClassOf(j, t);
            const auto known = m_walks.find({j, cls});
            if (known != m_walks.end()) {
                rest = known->second;
                break;
            }
            chain.emplace_back(j, cls);
            if (P(j) < t) break;
        }
        for (std::size_t k = chain.size(); k-- > 0;) {
            const std::size_t j = chain[k].first;
            int32_t item = -1;
            if (m_l[j] > 0) {
                item = m_group1[j];
            } else if (Q(j) <= t) {
                item = TestNode(j);
            }
            const int32_t logic = m_out.m_shape[j].logic;
            const int32_t node = item < 0 ? rest : Add(CompiledClause::kWalk, logic, item, rest);
            m_walks.emplace(chain[k], node);
            rest = node;
        }
        return rest;
    }

    // The group at s with depth d0 (0 or 1).
    int32_t Chain(std::size_t s, int64_t d0) {
        const int64_t lparen = m_l[s];
        const int64_t base = m_pre[s];
        int32_t node = TestNode(s);
        if (d0 >= lparen) return Group(node, Tail(s, base + d0));
        // Depths from the innermost (lparen) outwards, one class at a time.
        for (int64_t k = lparen; k >= d0;) {
            Spend(1);
            const int64_t t = base + k;
            // Every depth down to the class's lowest value has the same tail.
            const int64_t cls = ClassOf(s, t);
            const int64_t lowest =
                cls == std::numeric_limits<int64_t>::min() ? d0 : std::max(d0, cls - base);
            node = Group(node, Tail(s, t));
            k = lowest - 1;
        }
        return node;
    }

    void MarkReachable() {
        std::vector<char> reachable(m_out.m_nodes.size(), 0);
        reachable[static_cast<std::size_t>(m_out.m_root)] = 1;
        // Children always have smaller ids than their parents.
        for (std::size_t id = m_out.m_nodes.size(); id-- > 0;) {
            if (!reachable[id]) continue;
            const Node &node = m_out.m_nodes[id];
            if (node.kind == CompiledClause::kTest) continue;
            if (node.a >= 0) reachable[static_cast<std::size_t>(node.a)] = 1;
            if (node.b >= 0) reachable[static_cast<std::size_t>(node.b)] = 1;
        }
        for (std::size_t id = 0; id < reachable.size(); ++id)
            if (reachable[id]) m_out.m_order.push_back(static_cast<int32_t>(id));
        m_out.m_values.assign(m_out.m_nodes.size(), 0);
    }

    CompiledClause &m_out;
    const std::size_t m_n;
    const std::size_t m_allowance;
    std::vector<int64_t> m_l;
    std::vector<int64_t> m_pre;  // m_pre[i] = P(i - 1)
    std::size_t m_leaves = 1;
    std::vector<std::vector<int64_t>> m_classTree;
    std::vector<std::vector<int64_t>> m_stopMin;  // sparse table of StopValue
    std::vector<int32_t> m_testNode;
    std::vector<int32_t> m_group1;  // group at i with depth 1, for l(i) > 0
    struct WalkKeyHash {
        std::size_t operator()(const std::pair<std::size_t, int64_t> &key) const {
            return std::hash<std::size_t>{}(key.first) * 0x9E3779B97F4A7C15ull ^
                   std::hash<int64_t>{}(key.second);
        }
    };
    std::unordered_map<std::pair<std::size_t, int64_t>, int32_t, WalkKeyHash> m_walks;
};

CompiledClause::CompiledClause(const std::vector<Predicate> &predicates) {
    if (predicates.empty()) return;  // m_root stays -1: every record passes
    try {
        ClauseBuilder builder(*this, predicates);
        builder.Build();
    } catch (const OutOfWork &) {
        m_tooComplex = true;
        m_root = -1;
        m_nodes = {};
        m_order = {};
        m_values = {};
    }
}

bool CompiledClause::Fits(const std::vector<Predicate> &predicates) const {
    if (predicates.size() != m_shape.size()) return false;
    for (std::size_t i = 0; i < predicates.size(); ++i) {
        const Predicate &p = predicates[i];
        const Shape &s = m_shape[i];
        if (p.logic != s.logic || p.lparen != s.lparen || p.rparen != s.rparen) return false;
    }
    return true;
}
