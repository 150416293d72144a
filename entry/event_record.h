// EventRecord: a list of named fields sent to the sibling plug-in Varnix as an
// "EventSend" request through the host callback.
//
// Not locked itself. The owner keeps one record with its host name and OS text;
// each execution record is filled in a copy of it on the invoking thread, and
// only the delivery to the host runs under the owner's event mutex, so that
// concurrent invokes do not queue behind each other's text building.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "request/predicate.h"
#include "request/tsl_string.h"

class Tessel;

class EventRecord {
  public:
    explicit EventRecord(Tessel &owner);
    EventRecord(const EventRecord &) = default;
    EventRecord &operator=(const EventRecord &) = delete;

    void Reset();
    void AddText(const char *name, std::string_view text);
    void AddNumber(const char *name, uint32_t number);
    void AddTime(const char *name, std::time_t time);
    // Appends the standard fields and builds the request text and its
    // URL-encoded form, without delivering them.
    void Complete();

    const tslString &RequestText() const { return m_request; }
    // The request text URL-encoded, as the host receives it.
    const std::string &EncodedText() const { return m_encoded; }
    const std::vector<Predicate> &Fields() const { return m_fields; }
    void SetStatus(int32_t status) { m_status = status; }
    void SetSeverity(int32_t severity) { m_severity = severity; }

    static const char *StatusName(int32_t status);
    static const char *SeverityName(int32_t severity);
    // "Linux " and the kernel release; worked out once per process.
    static const std::string &OsText();

  private:
    void Add(const char *name, std::string value);

    tslString m_hostName;
    tslString m_os;
    int32_t m_status = 0;
    int32_t m_severity = 4;
    std::time_t m_date = 0;
    Tessel &m_owner;
    tslString m_request;
    std::string m_encoded;
    std::vector<Predicate> m_fields;
};
