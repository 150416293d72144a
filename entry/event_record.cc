#include "entry/event_record.h"

#include <sys/utsname.h>
#include <unistd.h>

#include "entry/tessel.h"

EventRecord::EventRecord(Tessel &owner) : m_os(OsText()), m_owner(owner) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) m_hostName = host;
}

const std::string &EventRecord::OsText() {
    static const std::string text = [] {
        struct utsname info {};
        if (uname(&info) != 0) return std::string("Linux");
        return std::string("Linux ") + info.release;
    }();
    return text;
}

const char *EventRecord::StatusName(int32_t status) {
    switch (status) {
        case 0: return "Success";
        case 1: return "Failure";
        case 2: return "Deny";
        default: return "Unknown";
    }
}

const char *EventRecord::SeverityName(int32_t severity) {
    switch (severity) {
        case 0: return "Info";
        case 1: return "Warning";
        case 2: return "Critical";
        case 3: return "Fatal";
        case 4: return "None";
        default: return "Unknown";
    }
}

void EventRecord::Reset() {
    m_request.clear();
    m_fields.clear();
    m_date = 0;
}

void EventRecord::Add(const char *name, std::string value) {
    m_fields.emplace_back(LOGIC_AND, 0, tslString(name), OPER_EQUAL, tslString(std::move(value)),
                          0);
}

void EventRecord::AddText(const char *name, std::string_view text) {
    std::string value = "s:";
    value.append(text);
    Add(name, std::move(value));
}

void EventRecord::AddNumber(const char *name, uint32_t number) {
    Add(name, "l:" + std::to_string(number));
}

void EventRecord::AddTime(const char *name, std::time_t time) {
    Add(name, "t:" + std::to_string(static_cast<unsigned long>(time)));
}

bool EventRecord::Send() {
    Complete();
    return m_owner.SendEvent(m_request) != 0;
}

void EventRecord::Complete() {
    if (m_date == 0) m_date = std::time(nullptr);
    AddText("Hostname", m_hostName.view());
    AddText("TesselName", m_owner.Name().view());
    AddText("Status", StatusName(m_status));
    AddTime("Date", m_date);
    AddText("OS", m_os.view());
    if (m_severity != 4) AddText("Severity", SeverityName(m_severity));

    std::string text =
        "<?xml version='1.0' encoding='UTF-8' standalone='no'?>"
        "<tesselrequest version=\"V02.0\" signature=\"\">"
        "<sponsor version=\"V02.0\">Varnix</sponsor>"
        "<select><output><all/></output><from><db name=\"EventSend\"/></from><where>";
    bool first = true;
    for (const Predicate &field : m_fields) {
        if (!first) text += "<logic oper=\"AND\"/>";
        first = false;
        text += "<predicat><compare oper=\"EQUAL\"><target name=\"";
        AppendXmlEscaped(text, field.target.view());
        text += "\"></target><atom value=\"";
        AppendXmlEscaped(text, field.atom.view());
        text += "\"></atom></compare></predicat>";
    }
    text += "</where></select></tesselrequest>";
    m_request = std::move(text);
    m_request.UrlEncoded();  // computed now, outside any lock the caller takes to deliver
}
