// tslData: everything one "invoke" works on, behind one fixed interface. The
// request side (tslRequest) is filled by the parser from the request text and
// read directly; the result side is the table the application's method fills
// (ResultTable, with its filter); BuildResponse turns both into the response
// text (ResponseWriter). Links and queries are request texts built from the
// current request (BuildRequest); the describe data is a Description.
//
// One tslData belongs to one invoke on one thread; it takes no locks. Texts are
// copied in; texts handed out (links, templates) are owned by the caller.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "request/enums.h"
#include "request/predicate.h"
#include "request/tsl_request.h"
#include "request/tsl_string.h"
#include "result/catalogue.h"
#include "result/record.h"
#include "result/response_bytes.h"
#include "result/result_table.h"

class tslData : public tslRequest {
  public:
    using tslRequest::tslRequest;
    tslData(const tslData &) = delete;
    tslData &operator=(const tslData &) = delete;

    const char *GetResponse() const { return m_response.c_str(); }
    // Bytes in the response text, without the terminating zero.
    std::size_t GetResponseSize() const { return m_response.size(); }
    // Hands the response over (the data keeps an empty one).
    ResponseBytes TakeResponse() { return std::exchange(m_response, {}); }
    const char *GetResponseBuffer() const { return nullptr; }
    uint32_t GetResponseLength() const { return 0; }
    int32_t GetErrorCode() const { return m_result.Error().code; }

    // ---- result table ----------------------------------------------------------
    bool SetTableInfo(const char *name, const char *date) {
        return m_result.SetTableInfo(name, date);
    }
    bool SetChartInfo(int32_t x, int32_t y, int32_t xTrend, int32_t yTrend) {
        return m_result.SetChartInfo(x, y, xTrend, yTrend);
    }
    bool SetError(int32_t code, const char *description, const char *troubleshooting) {
        return m_result.SetError(code, description, troubleshooting);
    }
    void SetFiltering(bool on) { m_result.SetFiltering(on); }
    bool AddColumn(const char *name, int32_t type) { return m_result.AddColumn(name, type); }
    // Values up to the first null; the first is required.
    bool AddRecord(const char *first, ...);
    // (value, link) pairs up to the first null value; a null link means none.
    bool AddLinkRecord(const char *first, const char *firstLink, ...);
    // A record with one empty value per column as the table has them now.
    std::unique_ptr<tslRecord> NewRecord() const { return m_result.NewRecord(); }
    bool SetRecordValue(tslRecord &record, const char *column, const char *value,
                        const char *link) const {
        return m_result.SetRecordValue(record, column, value, link);
    }
    // Filters the record; appends it (true) or drops it (false).
    bool AppendRecord(std::unique_ptr<tslRecord> record) {
        return m_result.AppendRecord(std::move(record));
    }

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

  private:
    // Written by BuildResponse only.
    ResponseBytes m_response;
    ResultTable m_result{*this};
    Description m_description;
};
