// "Norlo Server - Message Log": the backup server's messages, first to last.
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "app/norlo_tessel.h"
#include "app/wide_text.h"
#include "base/trace_log.h"
#include "halcyra/halcyra_server.h"
#include "pellog/pellog.h"
#include "result/tsl_data.h"

namespace {

constexpr int kSeverityFlag = 256;

const char *SeverityWord(int severity) {
    switch (severity & ~kSeverityFlag) {
        case 2:
            return "ERROR";
        case 1:
            return "WARNING";
        default:
            return "INFO";
    }
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Message dates as the table shows them, for one read of the log.
//
// The date is the hexadecimal text of a DOS date (high half) and DOS time (low
// half); characters that are no hex digit are skipped and only the last eight
// digits count. Shown in local time as "%m/%d/%y %H:%M:%S". A value that names
// no calendar time (month 0 or over 12, day 0, hour over 23, minute over 59,
// second over 59), and one the time conversion refuses, gives the empty text:
// the row stays, without a date. A day past the end of its month rolls over
// into the next, and a time in a daylight saving gap moves, as the local time
// conversion does with them.
class MessageDates {
  public:
    // The date's text, valid until the next call.
    const char *Format(std::u16string_view text) {
        std::uint32_t value = 0;
        for (char16_t c : text)
            if (const int digit = HexDigit(c); digit >= 0) value = value << 4 | digit;
        const unsigned date = value >> 16, time = value & 0xFFFF;
        std::tm when{};
        when.tm_year = static_cast<int>(date >> 9) + 80;
        when.tm_mon = static_cast<int>(date >> 5 & 0xF) - 1;
        when.tm_mday = static_cast<int>(date & 0x1F);
        when.tm_hour = static_cast<int>(time >> 11);
        when.tm_min = static_cast<int>(time >> 5 & 0x3F);
        when.tm_sec = static_cast<int>(time & 0x1F) * 2;
        when.tm_isdst = -1;
        if (when.tm_mon < 0 || when.tm_mon > 11 || when.tm_mday < 1 || when.tm_hour > 23 ||
            when.tm_min > 59 || when.tm_sec > 59)
            return "";
        // mktime reads the time zone file again on every call, and localtime_r
        // and strftime cost more than the rest of a row. Each hour is
        // converted once: when its first and last second read back as its own
        // fields (no transition inside, the day exists), every time in it
        // shows as its own fields. Any other hour is left to mktime.
        // Logs are mostly in time order: the last hour is asked for again.
        const std::uint32_t hourKey = value >> 11;
        if (!m_lastHour || *m_lastHour != hourKey) {
            auto [hour, added] = m_hours.try_emplace(hourKey, false);
            if (added) hour->second = Plain(when);
            m_lastHour = hourKey;
            m_lastPlain = hour->second;
        }
        std::tm local{};
        if (m_lastPlain) {
            local = when;
        } else {
            const std::time_t seconds = std::mktime(&when);
            if (seconds == kFailed || localtime_r(&seconds, &local) == nullptr) return "";
        }
        return Shown(local);
    }

  private:
    static constexpr std::time_t kFailed = -1;

    static bool SameFields(const std::tm &a, const std::tm &b) {
        return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
               a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
    }

    // True when every time of `when`'s hour converts to its own fields.
    static bool Plain(const std::tm &when) {
        std::tm first = when, last = when;
        first.tm_min = first.tm_sec = 0;
        last.tm_min = last.tm_sec = 59;
        const std::tm wantFirst = first, wantLast = last;
        const std::time_t start = std::mktime(&first);
        if (start == kFailed) return false;
        const std::time_t end = start + 3599;
        std::tm readFirst{}, readLast{};
        return localtime_r(&start, &readFirst) != nullptr &&
               localtime_r(&end, &readLast) != nullptr && SameFields(readFirst, wantFirst) &&
               SameFields(readLast, wantLast);
    }

    // "%m/%d/%y %H:%M:%S", written by hand for fields in range as strftime
    // would write them.
    const char *Shown(const std::tm &t) {
        char *const shown = m_shown;
        if (t.tm_year < -1900 || t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 ||
            t.tm_hour < 0 || t.tm_hour > 23 || t.tm_min < 0 || t.tm_min > 59 || t.tm_sec < 0 ||
            t.tm_sec > 60) {
            if (std::strftime(shown, sizeof m_shown, "%m/%d/%y %H:%M:%S", &t) == 0) return "";
            return shown;
        }
        const auto two = [&](int at, int n) {
            shown[at] = static_cast<char>('0' + n / 10);
            shown[at + 1] = static_cast<char>('0' + n % 10);
        };
        two(0, t.tm_mon + 1);
        shown[2] = '/';
        two(3, t.tm_mday);
        shown[5] = '/';
        two(6, (t.tm_year + 1900) % 100);
        shown[8] = ' ';
        two(9, t.tm_hour);
        shown[11] = ':';
        two(12, t.tm_min);
        shown[14] = ':';
        two(15, t.tm_sec);
        shown[17] = '\0';
        return shown;
    }

    // By DOS date and hour: whether the hour converts plainly.
    std::unordered_map<std::uint32_t, bool> m_hours;
    std::optional<std::uint32_t> m_lastHour;
    bool m_lastPlain = false;
    char m_shown[64];
};

}  // namespace

int32_t NorloTessel::sNLXMessageLog(tslData &request) {
    TslLog(TSL_TRACE, "NorloTessel::sNLXMessageLog\n");
    pllTrace("NorloTessel::sNLXMessageLog");
    request.SetTableInfo("Norlo Server Message Log", CurrentCtimeText().c_str());
    request.SetChartInfo(1, 5, 0, 0);
    request.SetError(0, nullptr, nullptr);
    request.SetFiltering(true);
    request.AddColumn("Severity", TYPE_STRING);
    request.AddColumn("Date", TYPE_DATETIME);
    request.AddColumn("Source", TYPE_STRING);
    request.AddColumn("Description", TYPE_STRING);
    request.AddColumn("Extension ", TYPE_STRING);

    std::lock_guard<std::mutex> lock(ServerLock());
    if (!ConnectServer()) {
        TslLog(TSL_TRACE, "NorloTessel::Connect Server failed\n");
        return 0;
    }
    TslLog(TSL_TRACE, "NorloTessel::ConnectServer");
    pllTrace("NorloTessel::ConnectServer");
    m_server->Startup();
    HBKMessageLog *log = m_server->GetMessageLog();
    pllTrace("NorloTessel::GetMessageLog");
    MessageDates dates;
    int severity = 0;
    std::u16string date, source, description, extension;
    // Kept across rows so that their room is reused.
    std::string sourceText, descriptionText, extensionText;
    while (log->GetNextMessage(severity, date, source, description, extension) != 0) {
        pllTrace("NorloTessel::GetNextMessage");
        NarrowInto(sourceText, source);
        NarrowInto(descriptionText, description);
        NarrowInto(extensionText, extension);
        request.AddRecord(SeverityWord(severity), dates.Format(date), sourceText.c_str(),
                          descriptionText.c_str(), extensionText.c_str(), nullptr);
    }
    return 0;
}
