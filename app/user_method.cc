// "Norlo Server - Users": one user's details (the tree view's user links), or
// every user of the organization tree.
#include <string>

#include "app/norlo_tessel.h"
#include "app/wide_text.h"
#include "base/trace_log.h"
#include "halcyra/halcyra_server.h"
#include "pellog/pellog.h"
#include "result/tsl_data.h"

void NorloTessel::DumpUser(HBKOrgNode &organization, tslData &request) {
    pllTrace("NorloTessel::DumpUser");
    const std::string parent = Narrow(organization.GetName());
    organization.Refresh();
    organization.SetStartPosition();
    while (HBKOrgNode *child = organization.GetNext()) {
        if (child->GetType() != orgUser) {
            DumpUser(*child, request);
            continue;
        }
        const std::u16string name = child->GetName();
        AddUserRecord(request, Narrow(name), &parent, name);
    }
}

int32_t NorloTessel::sNLXUser(tslData &request) {
    TslLog(TSL_TRACE, "NorloTessel::sNLXUser\n");
    pllTrace("NorloTessel::sNLXUser");
    const tslString *organization = nullptr, *user = nullptr;
    for (const Predicate &p : request.m_predicates) {
        if (p.target == "Norlo Server - Organization") organization = &p.atom;
        if (p.target == "User") user = &p.atom;
    }
    const bool single = organization != nullptr && user != nullptr;

    request.SetTableInfo("Norlo Server User Details", CurrentCtimeText().c_str());
    request.SetChartInfo(1, 8, 0, 0);
    request.SetError(0, nullptr, nullptr);
    // The single user view shows its row and all nine columns whatever the
    // request's predicates and output list say: filtering is off before the
    // columns are added.
    request.SetFiltering(!single);
    for (const char *column : {"User", "Organization", "Protected", "Activated", "Configuration",
                               "Last Login Date", "Location"})
        request.AddColumn(column, TYPE_STRING);
    request.AddColumn("Storage Size (KB)", TYPE_UINT32);
    request.AddColumn("Last Backup Date", TYPE_STRING);

    std::lock_guard<std::mutex> lock(ServerLock());
    if (!ConnectServer()) {
        TslLog(TSL_TRACE, "NorloTessel::Connect Server failed\n");
        return 0;
    }
    TslLog(TSL_TRACE, "NorloTessel::ConnectServer");
    pllTrace("NorloTessel::Connect Server");
    m_server->Startup();
    if (single) {
        AddUserRecord(request, user->str(), &organization->str(), Wide(user->view()));
    } else {
        DumpUser(*m_server->GetMyOrganization(), request);
    }
    return 0;
}
