#include "result/record_filter.h"

#include <memory>
#include <string_view>

bool RecordFilter::Passes(const std::vector<Predicate> &predicates,
                          const std::vector<tslColumn> &columns, const RecordView &record,
                          const RecordStore &accepted) {
    m_unique.ForgetLookups();  // any made so far were for other records
    if (predicates.empty()) return true;
    if (m_atoms.size() < predicates.size()) m_atoms.resize(predicates.size());
    // One predicate is its own group whatever its parentheses say.
    if (predicates.size() == 1) return Test(0, predicates[0], columns, record, accepted);
    if (!m_clause || !m_clause->Fits(predicates))
        m_clause = std::make_unique<CompiledClause>(predicates);
    return m_clause->Evaluate([&](std::size_t index) {
        return Test(index, predicates[index], columns, record, accepted);
    });
}

bool RecordFilter::Test(std::size_t index, const Predicate &predicate,
                        const std::vector<tslColumn> &columns, const RecordView &record,
                        const RecordStore &accepted) {
    std::size_t position = 0;
    while (position < columns.size() && !(columns[position].name == predicate.target)) ++position;
    if (position == columns.size()) return true;  // no such column: never rejects
    const std::string_view value = record.TextAt(position);
    const std::string_view atom = predicate.atom.view();
    std::unique_ptr<ParsedAtom> &parsed = m_atoms[index];

    switch (predicate.oper) {
        case OPER_LIKE:
        case OPER_NOTLIKE:
            if (!parsed || parsed->isSet || parsed->source != atom) parsed = ParseLikeAtom(atom);
            return LikeMatches(*parsed, value) == (predicate.oper == OPER_LIKE);
        case OPER_WITHINSET:
        case OPER_NOTINSET:
            if (!parsed || !parsed->isSet || parsed->source != atom) parsed = ParseSetAtom(atom);
            return SetMatches(*parsed, value) == (predicate.oper == OPER_WITHINSET);
        case OPER_UNIQUE:
            return m_unique.Holds(position, value, accepted);
        case OPER_EQUAL:
        case OPER_NEQ:
        case OPER_LESS:
        case OPER_GREATER:
        case OPER_LEQ:
        case OPER_GREATEQ:
            return CompareByType(columns[position].type, predicate.oper, value, atom);
        default:
            return true;  // "nooperator", or a code outside the table
    }
}
