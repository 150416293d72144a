// The result table that an application method fills for one request: table
// information, error block, columns, and the records that pass the request's
// where-clause, tested as they are offered.
//
// Reads the request's output selection and predicates at each call (through
// the reference it is made with, which must outlive it). Belongs to one invoke
// on one thread; not locked. Texts are copied in.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "request/tsl_request.h"
#include "request/tsl_string.h"
#include "result/record.h"
#include "result/record_filter.h"
#include "result/record_store.h"

// Table information: the name and date, and chart hints the table gives no
// meaning of its own.
struct TableInfo {
    tslString name;
    tslString date;
    int32_t x = 0;
    std::vector<int32_t> y{0};
    int32_t xTrend = 0;
    std::vector<int32_t> yTrend{0};
};

// Code 0: the response carries columns and records; any other: this block
// instead.
struct ErrorBlock {
    int32_t code = 0;
    tslString description;
    std::vector<tslString> troubleshooting;
};

class ResultTable {
  public:
    explicit ResultTable(const tslRequest &request) : m_request(request) {}
    ResultTable(const ResultTable &) = delete;
    ResultTable &operator=(const ResultTable &) = delete;

    // False and nothing stored if either text is null.
    bool SetTableInfo(const char *name, const char *date);
    // Always true; leaves exactly one element in each of the y lists.
    bool SetChartInfo(int32_t x, int32_t y, int32_t xTrend, int32_t yTrend);
    // Always true. A null description empties it; a null troubleshooting text
    // empties the list, any other is appended.
    bool SetError(int32_t code, const char *description, const char *troubleshooting);
    // While on, the output list selects the columns added and the where-clause
    // filters the records offered; the value at each call counts.
    void SetFiltering(bool on) { m_filtering = on; }
    // False (with a warning) for a null name or a type outside 1..17.
    bool AddColumn(const char *name, int32_t type);

    // A record of the texts from `first` on up to the first null, taken as
    // (value, link) pairs when `withLinks` (a null link: none). False, with
    // `warning` logged, when `first` is null; false without a record on a
    // "norecords" request; otherwise whether the record passed.
    bool AddRecord(const char *warning, bool withLinks, const char *first, const char *firstLink,
                   va_list rest);
    // One empty value per column as the table has them now.
    std::unique_ptr<tslRecord> NewRecord() const;
    // Sets the value and link (null: empty) under the first column named
    // `column`; false when there is none.
    bool SetRecordValue(tslRecord &record, const char *column, const char *value,
                        const char *link) const;
    // Filters the record; keeps it (true) or drops it (false).
    bool AppendRecord(std::unique_ptr<tslRecord> record);

    const TableInfo &Info() const { return m_info; }
    const ErrorBlock &Error() const { return m_error; }
    const std::vector<tslColumn> &Columns() const { return m_columns; }
    std::size_t RecordCount() const { return m_records.Count(); }
    // Hands the accepted records over, in order, and leaves the table without
    // any (records offered later start a new list).
    RecordStore TakeRecords();

  private:
    // Filters the staged record (while filtering is on) and keeps it if it
    // passes.
    bool OfferStaged();

    const tslRequest &m_request;
    TableInfo m_info;
    ErrorBlock m_error;
    bool m_filtering = false;
    std::vector<tslColumn> m_columns;
    // The accepted records, in order, never changed once here: the filter's
    // UNIQUE index refers to their texts. Only OfferStaged commits and only
    // TakeRecords empties the store, which drops the index with it.
    RecordStore m_records;
    RecordFilter m_filter;
};
