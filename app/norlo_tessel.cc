#include "app/norlo_tessel.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string_view>

#include "app/wide_text.h"
#include "base/clock.h"
#include "base/trace_log.h"
#include "entry/tessel.h"
#include "halcyra/halcyra_server.h"
#include "pellog/pellog.h"
#include "request/tsl_util.h"
#include "result/tsl_data.h"

namespace {

using Method = int32_t (NorloTessel::*)(tslData &);

struct DispatchEntry {
    std::string_view table;
    Method method;
};

// Select dispatch by exact table name, in this order.
const DispatchEntry kDispatch[] = {
    {"Define", &NorloTessel::sDefine},
    {"Sample Age", &NorloTessel::sAge},
    {"Sample Age Detail", &NorloTessel::sAgeDetail},
    {"Norlo Server - Configuration", &NorloTessel::sNLXConfigurations},
    {"Norlo Server - Default Configuration", &NorloTessel::sNLXDefaultConfiguration},
    {"Norlo Server - Organization Tree", &NorloTessel::sNLXOrganization},
    {"Norlo Server - Users", &NorloTessel::sNLXUser},
    {"Norlo Server - Message Log", &NorloTessel::sNLXMessageLog},
};

// Used when this machine's name cannot be found.
constexpr char16_t kDefaultServerName[] = u"localhost";

const char *OrDefault(const tslString &text, const char *fallback) {
    return text.empty() ? fallback : text.c_str();
}

}  // namespace

std::string CurrentCtimeText() {
    const std::time_t now = TslNow();
    char text[64] = {};
    if (ctime_r(&now, text) == nullptr) return "\n";
    return text;
}

NorloTessel::NorloTessel(const Tessel &tessel) : m_tessel(tessel) {
    // Keep file mode when the configuration asked for it: dropping to level 3
    // here would leave the freshly opened log file empty for good.
    if (TslGetLevel() != TSL_FILE) TslSetLevel(TSL_TRACE);
    m_eventInterval = kDefaultEventInterval;
    for (const ConfigEntry &entry : m_tessel.ConfigEntries()) {
        if (entry.name != std::string_view("EventTime")) continue;
        m_eventInterval = std::atoi(entry.value.c_str());
        if (m_eventInterval < 1) m_eventInterval = kDefaultEventInterval;
        TslLog(TSL_TRACE, "NorloTessel: set EventTime to %d seconds\n", m_eventInterval);
    }
    m_server = std::make_unique<HBKServer>();
    m_serverName = kDefaultServerName;
    m_serverPort = kServerPort;
    pllStartUpTracing(0);
}

// The server object goes with the application: this library can release it.
NorloTessel::~NorloTessel() = default;

std::mutex &NorloTessel::ServerLock() {
    static std::mutex lock;
    return lock;
}

void NorloTessel::UseLocalServer() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') m_serverName = Wide(name);
    m_serverPort = kServerPort;
}

bool NorloTessel::ConnectServer() {
    UseLocalServer();
    return m_server->Connect(m_serverName, m_serverPort) != 0;
}

void NorloTessel::LogRequest(const tslData &request) const {
    if (!TslLogEnabled(TSL_TRACE)) return;
    TslLog(TSL_TRACE,
           "NorloTessel::Run\n  Portalversion [%s] Sponsorversion [%s]\n  Sponsor [%s]\n  Portal "
           "Location [%s]\n  Action [%s] Table [%s]\n  Transaction [%s] Credentials [%s]\n  "
           "Outputtype [%s]\n",
           request.m_portalVersion.c_str(), request.m_sponsorVersion.c_str(),
           request.m_sponsorName.c_str(), request.m_portalLocation.c_str(),
           tslUtil::ActionName(request.m_action), request.m_table.c_str(),
           OrDefault(request.m_transactionId, "notrans"),
           OrDefault(request.m_credentials, "nocreds"), tslUtil::OutputName(request.m_outputKind));
    if (request.m_outputKind == OUTPUT_COLUMNLIST)
        for (const tslString &target : request.m_outputTargets)
            TslLog(TSL_TRACE, "NorloTessel::Run: output column [%s]\n", target.c_str());
    for (const Predicate &p : request.m_predicates)
        TslLog(TSL_TRACE, "NorloTessel::Run: filter: logic [%s] col [%s] oper [%s] val [%s]\n",
               tslUtil::LogicName(p.logic), p.target.c_str(), tslUtil::OperatorName(p.oper),
               p.atom.c_str());
}

int32_t NorloTessel::Run(tslData &request) {
    LogRequest(request);
    if (request.m_action == ACTION_SELECT) {
        for (const DispatchEntry &entry : kDispatch)
            if (request.m_table == entry.table) return (this->*entry.method)(request);
        TslLog(TSL_TRACE, "NorloTessel::Run: unknown method [%s]\n", request.m_table.c_str());
        request.SetError(404, "NorloTessel: Unknown Method", request.m_table.c_str());
        return 0;
    }
    if (request.m_action == ACTION_DESCRIBE) {
        std::unique_ptr<ApplicationInfo> application =
            tslData::BuildApplication("NorloTesselApp", "11.1", "ClassNorloTesselApp");
        request.SetDescription(application.release(), nullptr);
    }
    return 0;
}
