// The record filter: tests a record offered to the result table against the
// request's where-clause (grouping by parentheses, left-to-right logic, and
// one test per predicate by its operator and the column's type).
//
// Keeps what it works out for the rest of the request: the clause's grouping,
// the parsed LIKE and set atoms, and the UNIQUE index over the accepted
// records. Belongs to one result table; not locked.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "request/predicate.h"
#include "result/atom.h"
#include "result/clause.h"
#include "result/record.h"
#include "result/record_store.h"
#include "result/unique_index.h"

class RecordFilter {
  public:
    // True when `record` passes `predicates` over `columns`. UNIQUE compares
    // with `accepted`, the records the table holds, which must be the ones
    // that Accepted was told about since the last Forget.
    bool Passes(const std::vector<Predicate> &predicates, const std::vector<tslColumn> &columns,
                const RecordView &record, const RecordStore &accepted);
    // `record` is now the last of the table's records; `tested`: it has just
    // passed Passes (and was not changed since).
    void Accepted(const RecordView &record, bool tested) {
        if (!m_unique.Empty()) m_unique.Add(record, tested);
    }
    // A hint that `text`, a value at `position` of the record about to be
    // offered, will be looked up.
    void Prefetch(std::size_t position, std::string_view text) const {
        if (!m_unique.Empty()) m_unique.Prefetch(position, text);
    }
    // True when the where-clause is too complex to work out (see
    // CompiledClause): Passes then passes no record.
    bool Refused() const { return m_clause && m_clause->TooComplex(); }
    // The table lets go of its records: the UNIQUE index goes with them.
    void Forget() { m_unique.Clear(); }

  private:
    bool Test(std::size_t index, const Predicate &predicate, const std::vector<tslColumn> &columns,
              const RecordView &record, const RecordStore &accepted);

    // Worked out at the first record that needs it and redone only when the
    // predicate list changes shape.
    std::unique_ptr<CompiledClause> m_clause;
    // The parsed atoms of LIKE, NOTLIKE, WITHINSET and NOTINSET predicates, by
    // predicate position.
    std::vector<std::unique_ptr<ParsedAtom>> m_atoms;
    UniqueIndex m_unique;
};
