// The result table that a method fills: table information, error block,
// columns, and the records that pass the filter.
#include <cstdarg>
#include <memory>
#include <string_view>

#include "base/trace_log.h"
#include "result/tsl_data.h"

tslData::~tslData() = default;

bool tslData::SetTableInfo(const char *name, const char *date) {
    if (name == nullptr || date == nullptr) return false;
    m_tableName = name;
    m_tableDate = date;
    return true;
}

bool tslData::SetChartInfo(int32_t x, int32_t y, int32_t xTrend, int32_t yTrend) {
    m_x = x;
    m_y.assign(1, y);
    m_xTrend = xTrend;
    m_yTrend.assign(1, yTrend);
    return true;
}

bool tslData::SetError(int32_t code, const char *description, const char *troubleshooting) {
    m_errorCode = code;
    m_errorDescription = description;  // null empties it
    if (troubleshooting != nullptr) {
        m_troubleshooting.emplace_back(troubleshooting);
    } else {
        m_troubleshooting.clear();
    }
    return true;
}

bool tslData::AddColumn(const char *name, int32_t type) {
    if (name == nullptr || type < TYPE_BOOLEAN || type >= TYPE_LAST) {
        TslLog(TSL_WARNING, "tslData::AddColumn: bad name/type\n");
        return false;
    }
    tslColumn column;
    column.name = name;
    column.type = type;
    // The output list names columns byte for byte; it only selects while
    // filtering is on, as it stands when the column is added.
    if (m_filtering && m_outputKind == OUTPUT_COLUMNLIST) {
        column.output = false;
        for (const tslString &target : m_outputTargets) {
            if (target == column.name) {
                column.output = true;
                break;
            }
        }
    }
    m_columns.push_back(std::move(column));
    return true;
}

bool tslData::AddRecord(const char *first, ...) {
    va_list rest;
    va_start(rest, first);
    const bool accepted =
        AddValues("tslData::AddRecord: bad input val\n", false, first, nullptr, rest);
    va_end(rest);
    return accepted;
}

bool tslData::AddLinkRecord(const char *first, const char *firstLink, ...) {
    va_list rest;
    va_start(rest, firstLink);
    const bool accepted =
        AddValues("tslData::AddLinkRecord: bad input val\n", true, first, firstLink, rest);
    va_end(rest);
    return accepted;
}

bool tslData::AddValues(const char *logName, bool withLinks, const char *first,
                        const char *firstLink, va_list rest) {
    if (first == nullptr) {
        TslLog(TSL_WARNING, "%s", logName);
        return false;
    }
    if (m_outputKind == OUTPUT_NORECORDS) return false;
    auto record = std::make_unique<tslRecord>();
    record->values.reserve(m_columns.size());
    // A UNIQUE test will look each value up; starting that while the rest
    // of the record is copied hides most of the lookup's memory latency.
    const bool prefetch = m_filtering && !m_uniqueSeen.empty();
    for (const char *value = first, *link = firstLink; value != nullptr;) {
        if (prefetch) PrefetchUnique(record->values.size(), value);
        record->values.push_back({tslString(value), tslString(link)});
        value = va_arg(rest, const char *);
        link = withLinks && value != nullptr ? va_arg(rest, const char *) : nullptr;
    }
    if (!FilterRecord(*record)) return false;
    Accept(std::move(record));
    return true;
}

std::unique_ptr<tslRecord> tslData::NewRecord() const {
    auto record = std::make_unique<tslRecord>();
    record->values.resize(m_columns.size());
    return record;
}

bool tslData::SetRecordValue(tslRecord &record, const char *column, const char *value,
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

bool tslData::AppendRecord(std::unique_ptr<tslRecord> record) {
    if (!record) return false;
    if (!FilterRecord(*record)) return false;
    Accept(std::move(record));
    return true;
}
