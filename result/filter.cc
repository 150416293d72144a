// The record filter: every record offered to the table is tested against the
// request's where-clause before it is kept.
#include "result/filter.h"

#include <memory>
#include <string_view>

#include "result/clause.h"

namespace {

// A record may be shorter than the table (its missing values read as empty
// texts) or longer (values past the last column are never looked at).
std::string_view ValueAt(const tslRecord &record, std::size_t position) {
    return position < record.values.size() ? record.values[position].text.view()
                                           : std::string_view();
}

}  // namespace

bool tslData::FilterRecord(const tslRecord &record) {
    if (!m_filtering || m_predicates.empty()) return true;
    if (!m_clause || !m_clause->Fits(m_predicates))
        m_clause = std::make_shared<const CompiledClause>(m_predicates);
    return m_clause->Evaluate(
        [&](std::size_t index) { return TestPredicate(m_predicates[index], record); });
}

bool tslData::TestPredicate(Predicate &predicate, const tslRecord &record) {
    std::size_t position = 0;
    while (position < m_columns.size() && !(m_columns[position].name == predicate.target))
        ++position;
    if (position == m_columns.size()) return true;  // no such column: never rejects
    const std::string_view value = ValueAt(record, position);
    const std::string_view atom = predicate.atom.view();

    switch (predicate.oper) {
        case OPER_LIKE:
        case OPER_NOTLIKE: {
            if (!predicate.parsed || predicate.parsed->isSet || predicate.parsed->source != atom)
                predicate.parsed = ParseLikeAtom(atom);
            return LikeMatches(*predicate.parsed, value) == (predicate.oper == OPER_LIKE);
        }
        case OPER_WITHINSET:
        case OPER_NOTINSET: {
            if (!predicate.parsed || !predicate.parsed->isSet || predicate.parsed->source != atom)
                predicate.parsed = ParseSetAtom(atom);
            return SetMatches(*predicate.parsed, value) == (predicate.oper == OPER_WITHINSET);
        }
        case OPER_UNIQUE:
            return UniqueHolds(position, value);
        case OPER_EQUAL:
        case OPER_NEQ:
        case OPER_LESS:
        case OPER_GREATER:
        case OPER_LEQ:
        case OPER_GREATEQ:
            return CompareByType(m_columns[position].type, predicate.oper, value, atom);
        default:
            return true;  // "nooperator", or a code outside the table
    }
}

bool tslData::UniqueHolds(std::size_t position, std::string_view text) {
    auto found = m_uniqueSeen.find(position);
    if (found == m_uniqueSeen.end()) {
        // First question about this position: learn what was accepted so far;
        // from now on Accept keeps the set up to date.
        found = m_uniqueSeen.emplace(position, SeenTexts()).first;
        SeenTexts &seen = found->second;
        seen.Reserve(m_records.size());
        for (const std::unique_ptr<tslRecord> &accepted : m_records)
            seen.Insert(ValueAt(*accepted, position));
    }
    return !found->second.Contains(text);
}

void tslData::Accept(std::unique_ptr<tslRecord> record) {
    for (auto &[position, seen] : m_uniqueSeen) seen.Insert(ValueAt(*record, position));
    m_records.push_back(std::move(record));
}
