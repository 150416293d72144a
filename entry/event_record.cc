#include "entry/event_record.h"

#include <sys/utsname.h>
#include <unistd.h>

#include "base/clock.h"
#include "base/escaping.h"
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
        case 0:
            return "Success";
        case 1:
            return "Failure";
        case 2:
            return "Deny";
        default:
            return "Unknown";
    }
}

const char *EventRecord::SeverityName(int32_t severity) {
    switch (severity) {
        case 0:
            return "Info";
        case 1:
            return "Warning";
        case 2:
            return "Critical";
        case 3:
            return "Fatal";
        case 4:
            return "None";
        default:
            return "Unknown";
    }
}

void EventRecord::Reset() {
    m_request.clear();
    m_encoded.clear();
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

namespace {

// Builds the request text and its URL-encoded form side by side. The fixed
// markup is most of the bytes, so its encoded form is worked out by the
// compiler (UrlEncodeLiteral) and only the field texts are encoded at run time.
class EventText {
  public:
    template <std::size_t N>
    void Markup(const char (&literal)[N], const EncodedLiteral<N> &encoded) {
        m_plain.append(literal, N - 1);
        m_encoded.append(encoded.view());
    }
    // A field text: XML-escaped in the request, then URL-encoded.
    void Escaped(std::string_view text) {
        const std::size_t from = m_plain.size();
        AppendXmlEscaped(m_plain, text);
        AppendUrlEncoded(m_encoded, std::string_view(m_plain).substr(from));
    }
    std::string &Plain() { return m_plain; }
    std::string &Encoded() { return m_encoded; }

  private:
    std::string m_plain;
    std::string m_encoded;
};

constexpr char kHead[] =
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>"
    "<tesselrequest version=\"V02.0\" signature=\"\">"
    "<sponsor version=\"V02.0\">Varnix</sponsor>"
    "<select><output><all/></output><from><db name=\"EventSend\"/></from><where>";
constexpr char kAnd[] = "<logic oper=\"AND\"/>";
constexpr char kTargetOpen[] = "<predicat><compare oper=\"EQUAL\"><target name=\"";
constexpr char kAtomOpen[] = "\"></target><atom value=\"";
constexpr char kFieldClose[] = "\"></atom></compare></predicat>";
constexpr char kTail[] = "</where></select></tesselrequest>";

constexpr auto kHeadEncoded = UrlEncodeLiteral(kHead);
constexpr auto kAndEncoded = UrlEncodeLiteral(kAnd);
constexpr auto kTargetOpenEncoded = UrlEncodeLiteral(kTargetOpen);
constexpr auto kAtomOpenEncoded = UrlEncodeLiteral(kAtomOpen);
constexpr auto kFieldCloseEncoded = UrlEncodeLiteral(kFieldClose);
constexpr auto kTailEncoded = UrlEncodeLiteral(kTail);

}  // namespace

void EventRecord::Complete() {
    if (m_date == 0) m_date = TslNow();
    AddText("Hostname", m_hostName.view());
    AddText("TesselName", m_owner.Name().view());
    AddText("Status", StatusName(m_status));
    AddTime("Date", m_date);
    AddText("OS", m_os.view());
    if (m_severity != 4) AddText("Severity", SeverityName(m_severity));

    EventText text;
    text.Plain().reserve(400 + 160 * m_fields.size());
    text.Encoded().reserve(500 + 220 * m_fields.size());
    text.Markup(kHead, kHeadEncoded);
    bool first = true;
    for (const Predicate &field : m_fields) {
        if (!first) text.Markup(kAnd, kAndEncoded);
        first = false;
        text.Markup(kTargetOpen, kTargetOpenEncoded);
        text.Escaped(field.target.view());
        text.Markup(kAtomOpen, kAtomOpenEncoded);
        text.Escaped(field.atom.view());
        text.Markup(kFieldClose, kFieldCloseEncoded);
    }
    text.Markup(kTail, kTailEncoded);
    m_request = std::move(text.Plain());
    m_encoded = std::move(text.Encoded());
}
