#include "result/result_table.h"

#include <cstdarg>
#include <memory>
#include <string_view>
#include <utility>

#include "base/trace_log.h"

namespace {
constexpr int32_t kClauseTooComplex = 400;
}  // namespace

bool ResultTable::SetTableInfo(const char *name, const char *date) {
    if (name == nullptr || date == nullptr) return false;
    m_info.name = name;
    m_info.date = date;
    return true;
}

bool ResultTable::SetChartInfo(int32_t x, int32_t y, int32_t xTrend, int32_t yTrend) {
    m_info.x = x;
    m_info.y.assign(1, y);
    m_info.xTrend = xTrend;
    m_info.yTrend.assign(1, yTrend);
    return true;
}

bool ResultTable::SetError(int32_t code, const char *description, const char *troubleshooting) {
    m_error.code = code;
    m_error.description = description;  // null empties it
    if (troubleshooting != nullptr) {
        m_error.troubleshooting.emplace_back(troubleshooting);
    } else {
        m_error.troubleshooting.clear();
    }
    return true;
}

bool ResultTable::AddColumn(const char *name, int32_t type) {
    if (name == nullptr || type < TYPE_BOOLEAN || type >= TYPE_LAST) {
        TslLog(TSL_WARNING, "tslData::AddColumn: bad name/type\n");
        return false;
    }
    tslColumn column;
    column.name = name;
    column.type = type;
    // The output list names columns byte for byte; it only selects while
    // filtering is on, as it stands when the column is added.
    if (m_filtering && m_request.m_outputKind == OUTPUT_COLUMNLIST) {
        column.output = false;
        for (const tslString &target : m_request.m_outputTargets) {
            if (target == column.name) {
                column.output = true;
                break;
            }
        }
    }
    m_columns.push_back(std::move(column));
    return true;
}

bool ResultTable::AddRecord(const char *warning, bool withLinks, const char *first,
                            const char *firstLink, va_list rest) {
    if (first == nullptr) {
        TslLog(TSL_WARNING, "%s", warning);
        return false;
    }
    if (m_request.m_outputKind == OUTPUT_NORECORDS) return false;
    m_records.Begin();
    std::size_t position = 0;
    for (const char *value = first, *link = firstLink; value != nullptr; ++position) {
        // Starting a UNIQUE lookup's memory access while the rest of the
        // record is copied hides most of its latency.
        if (m_filtering) m_filter.Prefetch(position, value);
        m_records.Add(value, link != nullptr ? std::string_view(link) : std::string_view());
        value = va_arg(rest, const char *);
        link = withLinks && value != nullptr ? va_arg(rest, const char *) : nullptr;
    }
    return OfferStaged();
}

std::unique_ptr<tslRecord> ResultTable::NewRecord() const {
    auto record = std::make_unique<tslRecord>();
    record->values.resize(m_columns.size());
    return record;
}

bool ResultTable::SetRecordValue(tslRecord &record, const char *column, const char *value,
                                 const char *link) const {
    if (column == nullptr) return false;
    const std::string_view name(column);
    for (std::size_t position = 0; position < m_columns.size(); ++position) {
        if (m_columns[position].name.view() != name) continue;
        // A record made before further columns were added grows to reach them.
        if (record.values.size() <= position) record.values.resize(position + 1);
        record.values[position].text = value;
        record.values[position].link = link;
        return true;
    }
    return false;
}

bool ResultTable::AppendRecord(std::unique_ptr<tslRecord> record) {
    if (!record) return false;
    m_records.Begin();
    for (const tslValue &value : record->values)
        m_records.Add(value.text.view(), value.link.view());
    return OfferStaged();
}

bool ResultTable::OfferStaged() {
    if (m_filtering &&
        !m_filter.Passes(m_request.m_predicates, m_columns, m_records.Staged(), m_records)) {
        m_records.Discard();
        // A clause that cannot be worked out answers with an error, not with
        // an empty table that looks like a real answer.
        if (m_filter.Refused() && m_error.code != kClauseTooComplex) {
            TslLog(TSL_ERROR, "tslData::AddRecord: where-clause too complex\n");
            SetError(kClauseTooComplex, "tslData: where-clause too complex",
                     "use fewer predicates or parentheses");
        }
        return false;
    }
    m_records.Commit();
    m_filter.Accepted(m_records.At(m_records.Count() - 1), m_filtering);
    return true;
}

RecordStore ResultTable::TakeRecords() {
    m_filter.Forget();
    return std::exchange(m_records, {});
}
