// "Norlo Server - Organization Tree": the whole organization tree, or the
// direct members of the organizations of one name (the level view).
#include <string>
#include <string_view>

#include "app/norlo_tessel.h"
#include "app/wide_text.h"
#include "base/trace_log.h"
#include "halcyra/halcyra_server.h"
#include "pellog/pellog.h"
#include "result/tsl_data.h"

namespace {

constexpr char kOrganizationTarget[] = "Norlo Server - Organization";
constexpr char kTreeTable[] = "Norlo Server - Organization Tree";

const char *YesNo(int flag) {
    return flag != 0 ? "yes" : "no";
}

// The link of an organization's row: its level view.
std::string LevelLink(const tslData &request, const std::string &organization) {
    const auto predicate =
        tslData::NewPredicate(LOGIC_NOLOGIC, kOrganizationTarget, OPER_EQUAL, organization.c_str());
    return request.BuildLink(kTreeTable, predicate.get(), nullptr);
}

// Refreshes `organization` and visits its members in order, each with its
// name as the library gives it and in UTF-8.
template <typename Visit>
void ForEachMember(HBKOrgNode &organization, Visit &&visit) {
    organization.Refresh();
    organization.SetStartPosition();
    while (HBKOrgNode *child = organization.GetNext()) {
        const std::u16string wideName = child->GetName();
        visit(*child, wideName, Narrow(wideName));
    }
}

}  // namespace

void NorloTessel::GetUserAttributes(const HBKUser &user, const UserAttributeOutputs &out) {
    pllTrace("NorloTessel::GetUserAttributes");
    if (out.isProtected) *out.isProtected = YesNo(user.GetProtected());
    if (out.activated) *out.activated = YesNo(user.GetActive());
    if (out.configuration) {
        *out.configuration = Narrow(user.GetConfig());
        pllTrace("NorloTessel::GetConfig %s", out.configuration->c_str());
    }
    if (out.lastLoginDate) {
        *out.lastLoginDate = Narrow(user.GetLastLoginDate());
        pllTrace("NorloTessel::GetLastLoginDate %s", out.lastLoginDate->c_str());
    }
    if (out.dataPath) {
        *out.dataPath = Narrow(user.GetDataPath());
        pllTrace("NorloTessel::GetDataPath %s", out.dataPath->c_str());
    }
    if (out.lastBackupDate) *out.lastBackupDate = Narrow(user.GetLastBackupDate());
    if (out.storageSize) *out.storageSize = std::to_string(user.GetStorageSize());
}

void NorloTessel::AddUserRecord(tslData &request, const std::string &first,
                                const std::string *second, const std::u16string &userName) {
    const HBKUser user(static_cast<unsigned long>(m_server->GetConid()), userName);
    std::string isProtected, activated, configuration, login, path, backup, size;
    GetUserAttributes(user,
                      {&isProtected, &activated, &configuration, &login, &path, &backup, &size});
    const char *rest[] = {isProtected.c_str(), activated.c_str(), configuration.c_str(),
                          login.c_str(),       path.c_str(),      size.c_str(),
                          backup.c_str()};
    if (second != nullptr) {
        request.AddRecord(first.c_str(), second->c_str(), rest[0], rest[1], rest[2], rest[3],
                          rest[4], rest[5], rest[6], nullptr);
    } else {
        request.AddRecord(first.c_str(), rest[0], rest[1], rest[2], rest[3], rest[4], rest[5],
                          rest[6], nullptr);
    }
}

void NorloTessel::FindOrganization(const std::u16string &name, HBKOrgNode &node, tslData &request) {
    pllTrace("NorloTessel::FindOrganization");
    node.Refresh();
    node.SetStartPosition();
    while (HBKOrgNode *child = node.GetNext()) {
        if (child->GetType() != orgOrganization) continue;
        if (child->GetName() == name) {
            GetOrganizationLevel(*child, request);
        } else {
            FindOrganization(name, *child, request);
        }
    }
}

void NorloTessel::GetOrganizationLevel(HBKOrgNode &organization, tslData &request) {
    pllTrace("NorloTessel::GetOrganizationLevel");
    ForEachMember(organization, [&](HBKOrgNode &child, const std::u16string &wideName,
                                    const std::string &name) {
        if (child.GetType() == orgUser) {
            AddUserRecord(request, name, nullptr, wideName);
            return;
        }
        const std::string link = LevelLink(request, name);
        request.AddLinkRecord(name.c_str(), link.c_str(), YesNo(child.GetProtected()), nullptr,
                              YesNo(child.GetActive()), nullptr, "", nullptr, "", nullptr, "",
                              nullptr, "", nullptr, "", nullptr, nullptr);
    });
}

void NorloTessel::DumpOrganization(HBKOrgNode &organization, tslData &request) {
    pllTrace("NorloTessel::DumpOrganization");
    const std::string parent = Narrow(organization.GetName());
    ForEachMember(organization, [&](HBKOrgNode &child, const std::u16string &wideName,
                                    const std::string &name) {
        if (child.GetType() == orgUser) {
            const HBKUser user(static_cast<unsigned long>(m_server->GetConid()), wideName);
            std::string isProtected, activated;
            GetUserAttributes(user, {&isProtected, &activated});
            const auto inOrganization = tslData::NewPredicate(LOGIC_NOLOGIC, kOrganizationTarget,
                                                              OPER_EQUAL, parent.c_str());
            const auto isUser = tslData::NewPredicate(LOGIC_AND, "User", OPER_EQUAL, name.c_str());
            const std::string link = request.BuildLink("Norlo Server - Users", inOrganization.get(),
                                                       isUser.get(), nullptr);
            request.AddLinkRecord(parent.c_str(), nullptr, "", nullptr, name.c_str(), link.c_str(),
                                  isProtected.c_str(), nullptr, activated.c_str(), nullptr,
                                  nullptr);
            return;
        }
        const std::string link = LevelLink(request, name);
        request.AddLinkRecord(parent.c_str(), nullptr, name.c_str(), link.c_str(), "", nullptr,
                              YesNo(child.GetProtected()), nullptr, YesNo(child.GetActive()),
                              nullptr, nullptr);
        DumpOrganization(child, request);
    });
}

int32_t NorloTessel::sNLXOrganization(tslData &request) {
    TslLog(TSL_TRACE, "NorloTessel::sNLXOrganization\n");
    pllTrace("NorloTessel::sNLXOrganization");
    request.SetFiltering(true);
    const tslString *organization = nullptr;
    for (const Predicate &p : request.m_predicates)
        if (p.target == kOrganizationTarget) organization = &p.atom;

    std::lock_guard<std::mutex> lock(ServerLock());
    if (!ConnectServer()) {
        TslLog(TSL_TRACE, "NorloTessel::ConnectServer failed\n");
        pllTrace("NorloTessel::Connect Server failed");
        return 0;
    }
    TslLog(TSL_TRACE, "NorloTessel::ConnectServer\n");
    pllTrace("NorloTessel::ConnectServer");
    m_server->Startup();
    HBKOrgNode *root = m_server->GetMyOrganization();
    const std::string now = CurrentCtimeText();
    if (organization != nullptr) {
        request.SetTableInfo("Norlo Server Organization", now.c_str());
        request.SetChartInfo(1, 7, 0, 0);
        request.SetError(0, nullptr, nullptr);
        // Off before the columns are added: the level view shows every row and
        // every column whatever the request's predicates and output list say.
        request.SetFiltering(false);
        for (const char *column :
             {"Name", "Protected", "Activated", "Configuration", "Last Login Date", "Location"})
            request.AddColumn(column, TYPE_STRING);
        request.AddColumn("Storage Size (Bytes)", TYPE_UINT32);
        request.AddColumn("Last Backup Date", TYPE_STRING);
        const std::u16string name = Wide(organization->view());
        if (name == root->GetName()) {
            GetOrganizationLevel(*root, request);
        } else {
            FindOrganization(name, *root, request);
        }
        return 0;
    }
    request.SetTableInfo("Norlo Server Organization Tree", now.c_str());
    request.SetChartInfo(1, 5, 0, 0);
    request.SetError(0, nullptr, nullptr);
    for (const char *column :
         {"Organization", "Sub Organization", "User", "Protected", "Activated"})
        request.AddColumn(column, TYPE_STRING);
    request.SetFiltering(true);
    DumpOrganization(*root, request);
    return 0;
}
