// tslData: everything one "invoke" works on. The request side (tslRequest) is
// filled by the parser from the request text; the result side (columns, records, error block)
// by the application's method; BuildResponse turns it into the response text.
//
// One tslData belongs to one invoke on one thread; it takes no locks. Texts are
// copied in; texts handed out (links, templates) are owned by the caller.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "request/enums.h"
#include "request/predicate.h"
#include "request/tsl_request.h"
#include "request/tsl_string.h"
#include "result/seen_texts.h"

class CompiledClause;  // result/clause.h

struct tslValue {
    tslString text;
    tslString link;  // empty: no link
};

// Values by column position. A record may hold fewer values than the table has
// columns: the missing ones read as empty texts everywhere (comparisons, LIKE,
// sets, UNIQUE) and are not written. Values beyond the last column are kept but
// never tested or written.
struct tslRecord {
    std::vector<tslValue> values;
};

struct tslColumn {
    tslString name;
    int32_t type = TYPE_UNKNOWN;
    tslString tooltip;
    bool output = true;
};

struct ApplicationInfo {
    tslString name;
    tslString version;
    tslString className;
};

class tslData : public tslRequest {
  public:
    using tslRequest::tslRequest;
    ~tslData();
    tslData(const tslData &) = delete;
    tslData &operator=(const tslData &) = delete;

    const char *GetResponse() const { return m_response.c_str(); }
    const char *GetResponseBuffer() const { return nullptr; }
    uint32_t GetResponseLength() const { return 0; }
    int32_t GetErrorCode() const { return m_errorCode; }

    // ---- result side --------------------------------------------------------
    bool SetTableInfo(const char *name, const char *date);
    bool SetChartInfo(int32_t x, int32_t y, int32_t xTrend, int32_t yTrend);
    bool SetError(int32_t code, const char *description, const char *troubleshooting);
    void SetFiltering(bool on) { m_filtering = on; }
    bool AddColumn(const char *name, int32_t type);
    // Values up to the first null; the first is required.
    bool AddRecord(const char *first, ...);
    // (value, link) pairs up to the first null value; a null link means none.
    bool AddLinkRecord(const char *first, const char *firstLink, ...);
    // A record with one empty value per column as the table has them now.
    std::unique_ptr<tslRecord> NewRecord() const;
    bool SetRecordValue(tslRecord &record, const char *column, const char *value,
                        const char *link) const;
    // Filters the record; appends it (true) or drops it (false).
    bool AppendRecord(std::unique_ptr<tslRecord> record);

    // Table information and error block.
    tslString m_tableName;
    tslString m_tableDate;
    int32_t m_x = 0;
    std::vector<int32_t> m_y{0};
    int32_t m_xTrend = 0;
    std::vector<int32_t> m_yTrend{0};
    int32_t m_errorCode = 0;
    tslString m_errorDescription;
    std::vector<tslString> m_troubleshooting;
    bool m_filtering = false;
    std::vector<tslColumn> m_columns;
    // Accepted records, in order. Only the table operations append to it and
    // only BuildResponse empties it: the UNIQUE index refers to records by
    // their place here.
    std::vector<std::unique_ptr<tslRecord>> m_records;

    // ---- links and request texts (drill-down) -------------------------------
    static std::unique_ptr<Predicate> NewPredicate(int32_t logic, const char *target, int32_t oper,
                                                   const char *atom);
    static std::unique_ptr<Predicate> NewPredicate(int32_t logic, int32_t lparen,
                                                   const char *target, int32_t oper,
                                                   const char *atom, int32_t rparen);
    // A request text selecting `table` with the given predicates (null-terminated
    // list of const Predicate *), in the current request's envelope and sponsor.
    std::string BuildLink(const char *table, ...) const;
    static std::string BuildLinkText(bool envelope, const char *sponsor, const char *table,
                                     const Predicate *const *predicates);
    static std::string BuildLinkText(bool envelope, const char *sponsor, const char *table, ...);
    static std::string BuildRequestText(bool envelope, const char *sponsor, const char *table,
                                        const Predicate *const *predicates);

    // ---- response ------------------------------------------------------------
    // Writes the response text (table, error or describe form; SOAP envelope
    // when the request came in one; HTTP header in raw mode). Consumes records.
    void BuildResponse();
    tslString m_response;

    // ---- catalogue templates -------------------------------------------------
    std::optional<std::string> BuildAnyMethodTemplate(const char *link, const char *method,
                                                      const char *version, bool aggregate,
                                                      const char *description, const char *folder,
                                                      const char *const *required) const;
    std::optional<std::string> BuildAnyMethodTemplate(int32_t methodType, const char *method,
                                                      const char *version, bool aggregate,
                                                      const char *description, const char *folder,
                                                      const char *const *required) const;
    // Required-field texts follow the folder path, ended by a null.
    std::optional<std::string> BuildAnyMethodTemplateV(int32_t methodType, const char *method,
                                                       const char *version, bool aggregate,
                                                       const char *description, const char *folder,
                                                       ...) const;
    // Predicates (const Predicate *) follow the table name, ended by a null.
    std::string BuildQuery(int32_t action, const char *table, ...) const;
    static std::unique_ptr<ApplicationInfo> BuildApplication(const char *name, const char *version,
                                                             const char *className);
    // Takes ownership of each ApplicationInfo (ApplicationInfo *), ended by a null.
    bool SetDescription(ApplicationInfo *first, ...);

    tslString m_sponsorClassName;
    std::vector<std::unique_ptr<ApplicationInfo>> m_applications;

  private:
    bool AddValues(const char *logName, bool withLinks, const char *first, const char *firstLink,
                   va_list rest);
    // True when the record passes the where-clause (or filtering is off).
    bool FilterRecord(const tslRecord &record);
    // One predicate against one record; fills the predicate's parsed-atom cache.
    bool TestPredicate(Predicate &predicate, const tslRecord &record);
    // UNIQUE: true when no accepted record holds `text` at `position`.
    bool UniqueHolds(std::size_t position, std::string_view text);
    // The text accepted record `number` holds at `position` (empty if none).
    std::string_view AcceptedText(uint32_t number, std::size_t position) const;
    // Starts fetching what a UNIQUE test of `text` at `position` will read;
    // only for the record that FilterRecord is called for next.
    void PrefetchUnique(std::size_t position, const char *text) const;
    // Accepts a record that passed: appends it and keeps UNIQUE bookkeeping.
    void Accept(std::unique_ptr<tslRecord> record);
    // `valueSizes`: escaped sizes of the values and links, in writing order.
    void WriteTableResponse(std::string &out, const std::vector<std::size_t> &valueSizes);
    void WriteDescribeResponse(std::string &out) const;

    // UNIQUE: texts accepted so far, by column position, for the positions some
    // UNIQUE predicate has asked about (rarely more than one).
    struct UniqueColumn {
        std::size_t position;
        SeenTexts seen;
    };
    std::vector<UniqueColumn> m_uniqueSeen;
    // Counts FilterRecord calls; see Accept.
    uint64_t m_filterTicket = 0;
    // The where-clause's grouping, worked out at the first filtered record and
    // redone only when the predicate list changes shape.
    std::shared_ptr<const CompiledClause> m_clause;

    friend struct FilterAccess;
};
