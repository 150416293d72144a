// "Norlo Server - Configuration" and "Norlo Server - Default Configuration":
// the backup server's user configurations and the default one.
#include <string>

#include "app/norlo_tessel.h"
#include "app/wide_text.h"
#include "base/trace_log.h"
#include "halcyra/halcyra_server.h"
#include "pellog/pellog.h"
#include "result/tsl_data.h"

namespace {

// Set at load; each method reads the configurations as the library holds them
// until its first call ends, and refreshes them on every call after that.
// Read and cleared only under the server lock.
bool g_listUnrefreshed = true;
bool g_defaultUnrefreshed = true;

// The configuration the library never assigns on purpose: it gets no row.
constexpr char kUnassigned[] = "__UNASSIGNED__";

void SetUpTable(tslData &request, const char *title, const char *const (&columns)[4],
                const int32_t (&types)[4]) {
    request.SetTableInfo(title, CurrentCtimeText().c_str());
    request.SetChartInfo(1, 4, 0, 0);
    request.SetError(0, nullptr, nullptr);
    request.SetFiltering(true);
    for (int i = 0; i < 4; ++i) request.AddColumn(columns[i], types[i]);
}

}  // namespace

int32_t NorloTessel::sNLXConfigurations(tslData &request) {
    TslLog(TSL_TRACE, "NorloTessel::sNLXConfigurations\n");
    pllTrace("NorloTessel::sNLXConfigurations");
    SetUpTable(request, "Norlo Server Configurations",
               {"Configuration", "Is Default", "Config Folder", "Backup Sets"},
               {TYPE_STRING, TYPE_STRING, TYPE_STRING, TYPE_UINT32});

    std::lock_guard<std::mutex> lock(ServerLock());
    const bool refresh = !g_listUnrefreshed;
    g_listUnrefreshed = false;
    if (!ConnectServer()) {
        TslLog(TSL_TRACE, "NorloTessel::Connect Server failed\n");
        return 0;
    }
    TslLog(TSL_TRACE, "NorloTessel::ConnectServer\n");
    pllTrace("NorloTessel::ConnectServer");
    m_server->Startup();
    pllTrace("NorloTessel::GetUserConfiguration");
    HBKUserConfigurations *configurations = m_server->GetUserConfigurations();
    if (refresh) configurations->Refresh();
    pllTrace("NorloTessel::GetDefault");
    const std::string defaultName = Narrow(configurations->GetDefault());

    // The count is read again after every item.
    for (long index = 0; index < configurations->GetCount(); ++index) {
        HBKUserConfiguration *configuration = configurations->GetItemAt(index);
        if (configuration == nullptr) continue;
        if (refresh) configuration->Refresh();
        const std::string name = Narrow(configuration->GetName());
        if (name == kUnassigned) continue;
        const std::string folder = Narrow(configuration->GetFileName());
        const char *isDefault = name == defaultName ? "true" : "false";
        const long sets = configuration->GetBackupSets()->GetCount();
        const std::string count = std::to_string(sets);
        if (sets < 1) {
            request.AddRecord(name.c_str(), isDefault, folder.c_str(), count.c_str(), nullptr);
            continue;
        }
        const std::string link =
            name == defaultName ? request.BuildLink("Norlo Server - Default Configuration", nullptr)
                                : std::string();
        request.AddLinkRecord(name.c_str(), link.empty() ? nullptr : link.c_str(), isDefault,
                              nullptr, folder.c_str(), nullptr, count.c_str(), nullptr, nullptr);
    }
    return 0;
}

int32_t NorloTessel::sNLXDefaultConfiguration(tslData &request) {
    TslLog(TSL_TRACE, "NorloTessel::sNLXDefaultConfiguration\n");
    pllTrace("NorloTessel::sNLXDefaultConfiguration");
    SetUpTable(
        request, "Norlo Server Default Configuration",
        {"Name", "Number of Backup Sets", "Backup Package Size", "Backup Low Disk Space Limit"},
        {TYPE_STRING, TYPE_UINT32, TYPE_UINT32, TYPE_UINT32});

    std::lock_guard<std::mutex> lock(ServerLock());
    const bool refresh = !g_defaultUnrefreshed;
    g_defaultUnrefreshed = false;
    if (!ConnectServer()) {
        TslLog(TSL_TRACE, "NorloTessel::Connect Server failed\n");
        return 0;
    }
    TslLog(TSL_TRACE, "NorloTessel::ConnectServer");
    m_server->Startup();
    HBKUserConfigurations *configurations = m_server->GetUserConfigurations();
    if (refresh) configurations->Refresh();
    const std::u16string defaultName = configurations->GetDefault();
    if (defaultName.empty()) return 0;

    HBKUserConfiguration *found = nullptr;
    for (long index = 0; found == nullptr && index < configurations->GetCount(); ++index) {
        HBKUserConfiguration *configuration = configurations->GetItemAt(index);
        if (configuration != nullptr &&
            EqualIgnoringAsciiCase(configuration->GetName(), defaultName))
            found = configuration;
    }
    if (found == nullptr) return 0;
    if (refresh) found->Refresh();
    const std::string sets = std::to_string(found->GetBackupSets()->GetCount());
    const HBKBackupOptions *options = found->GetBackupOptions();
    const std::string limit = std::to_string(options->GetLowDiskSpaceLimit());
    const std::string packageSize = std::to_string(options->GetBackupPkgSize());
    TslLog(
        TSL_TRACE,
        "NorloTessel::GetUserConfiguartions\n\t\tNumber of BackupSets [%s]\n\t\tLowDiskSpaceLimit "
        "[%s]\n\t\tBackupPackageSize [%s]\n",
        sets.c_str(), limit.c_str(), packageSize.c_str());
    request.AddRecord(Narrow(defaultName).c_str(), sets.c_str(), packageSize.c_str(), limit.c_str(),
                      nullptr);
    return 0;
}
