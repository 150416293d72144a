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
    ++m_filterTicket;  // names this test for the UNIQUE index (see Accept)
    if (!m_filtering || m_predicates.empty()) return true;
    // One predicate is its own group whatever its parentheses say.
    if (m_predicates.size() == 1) return TestPredicate(m_predicates[0], record);
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

// The accepted records hold the texts the UNIQUE index points at. Record
// numbers count the records accepted since the last response; the index is
// dropped with the records (BuildResponse), so each number names one record.
std::string_view tslData::AcceptedText(uint32_t number, std::size_t position) const {
    if (number >= m_records.size() || !m_records[number]) return std::string_view();
    return ValueAt(*m_records[number], position);
}

bool tslData::UniqueHolds(std::size_t position, std::string_view text) {
    const auto textOf = [this, position](uint32_t number) {
        return AcceptedText(number, position);
    };
    for (UniqueColumn &tracked : m_uniqueSeen)
        if (tracked.position == position)
            return !tracked.seen.Contains(text, textOf, m_filterTicket);
    // First question about this position: learn what was accepted so far;
    // from now on Accept keeps the index up to date.
    m_uniqueSeen.push_back({position, SeenTexts()});
    SeenTexts &seen = m_uniqueSeen.back().seen;
    seen.Reserve(m_records.size());
    for (std::size_t number = 0; number < m_records.size(); ++number)
        seen.Insert(static_cast<uint32_t>(number),
                    AcceptedText(static_cast<uint32_t>(number), position), textOf);
    return !seen.Contains(text, textOf, m_filterTicket);
}

void tslData::PrefetchUnique(std::size_t position, const char *text) const {
    // The record is about to be filtered, and that test gets the next ticket.
    for (const UniqueColumn &tracked : m_uniqueSeen)
        if (tracked.position == position) tracked.seen.Prefetch(text, m_filterTicket + 1);
}

void tslData::Accept(std::unique_ptr<tslRecord> record) {
    // Every record accepted has just been through FilterRecord, unchanged, so
    // the index may reuse that test's lookups (the ticket says which test).
    // Numbers are 32-bit: a table of 2^32 records would need far more memory
    // than a process has.
    const auto number = static_cast<uint32_t>(m_records.size());
    for (UniqueColumn &tracked : m_uniqueSeen) {
        const std::size_t position = tracked.position;
        tracked.seen.Insert(
            number, ValueAt(*record, position),
            [this, position](uint32_t n) { return AcceptedText(n, position); }, m_filterTicket);
    }
    m_records.push_back(std::move(record));
}
