// "Norlo Server - Message Log": the backup server's messages, first to last.
#include <ctime>
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
    std::string Format(std::u16string_view text) {
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
            return {};
        // mktime reads the time zone file again on every call, which would
        // cost more than the rest of a row. The start of each hour is
        // converted once; a time that reads back as its own fields from there
        // is the one mktime gives (the hour holds no transition), any other
        // is left to mktime.
        auto [start, added] = m_hourStarts.try_emplace(value >> 11, 0);
        if (added) {
            std::tm hour = when;
            hour.tm_min = hour.tm_sec = 0;
            start->second = std::mktime(&hour);
        }
        std::time_t seconds = start->second + when.tm_min * 60 + when.tm_sec;
        std::tm local{};
        if (start->second == kFailed || localtime_r(&seconds, &local) == nullptr ||
            local.tm_year != when.tm_year || local.tm_mon != when.tm_mon ||
            local.tm_mday != when.tm_mday || local.tm_hour != when.tm_hour ||
            local.tm_min != when.tm_min || local.tm_sec != when.tm_sec) {
            seconds = std::mktime(&when);
            if (seconds == kFailed || localtime_r(&seconds, &local) == nullptr) return {};
        }
        char shown[32];
        if (std::strftime(shown, sizeof shown, "%m/%d/%y %H:%M:%S", &local) == 0) return {};
        return shown;
    }

  private:
    static constexpr std::time_t kFailed = -1;
    // By DOS date and hour.
    std::unordered_map<std::uint32_t, std::time_t> m_hourStarts;
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
    while (log->GetNextMessage(severity, date, source, description, extension) != 0) {
        pllTrace("NorloTessel::GetNextMessage");
        request.AddRecord(SeverityWord(severity), dates.Format(date).c_str(),
                          Narrow(source).c_str(), Narrow(description).c_str(),
                          Narrow(extension).c_str(), nullptr);
    }
    return 0;
}
