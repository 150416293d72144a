// NorloTessel: the application behind the application hook. Dispatches each
// request by action and table name to the method that fills the result table.
//
// One object exists between "Initialize" and "Terminate". Run may be called
// from many threads at once. The sample and catalogue methods touch only the
// request's own tslData and read-only fields. The backup server methods share
// the server object, its name and port and the process-wide refresh flags;
// each holds the process-wide server lock from choosing the server to its
// end, so they run one at a time and every one sees a whole connection.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class HBKOrgNode;
class HBKUser;
class HBKServer;
class Tessel;
class tslData;

class NorloTessel {
  public:
    explicit NorloTessel(const Tessel &tessel);
    ~NorloTessel();
    NorloTessel(const NorloTessel &) = delete;
    NorloTessel &operator=(const NorloTessel &) = delete;

    // Logs the request and runs the method its table names; always 0.
    int32_t Run(tslData &request);

    int32_t sDefine(tslData &request);
    int32_t sAge(tslData &request);
    int32_t sAgeDetail(tslData &request);
    int32_t sNLXMessageLog(tslData &request);
    int32_t sNLXConfigurations(tslData &request);
    int32_t sNLXDefaultConfiguration(tslData &request);
    int32_t sNLXOrganization(tslData &request);
    int32_t sNLXUser(tslData &request);

    int32_t EventInterval() const { return m_eventInterval; }

    static constexpr int32_t kDefaultEventInterval = 10;
    static constexpr int32_t kServerPort = 1900;

  private:
    // What GetUserAttributes reads; a null output is skipped.
    struct UserAttributeOutputs {
        std::string *isProtected = nullptr, *activated = nullptr, *configuration = nullptr,
                    *lastLoginDate = nullptr, *dataPath = nullptr, *lastBackupDate = nullptr,
                    *storageSize = nullptr;
    };

    void LogRequest(const tslData &request) const;

    // The members below are used only with ServerLock() held.
    static std::mutex &ServerLock();
    // Points the server name at this machine (kept when the name is not found)
    // and the port at kServerPort.
    void UseLocalServer();
    // UseLocalServer, then Connect; true when connected (Startup is the caller's).
    bool ConnectServer();

    void FindOrganization(const std::u16string &name, HBKOrgNode &node, tslData &request);
    void GetOrganizationLevel(HBKOrgNode &organization, tslData &request);
    void DumpOrganization(HBKOrgNode &organization, tslData &request);
    void DumpUser(HBKOrgNode &organization, tslData &request);
    static void GetUserAttributes(const HBKUser &user, const UserAttributeOutputs &outputs);
    // A user's row of the level view or the user tables: `first` and `second`
    // lead, then every attribute in column order.
    void AddUserRecord(tslData &request, const std::string &first, const std::string *second,
                       const std::u16string &userName);

    int32_t m_eventInterval = kDefaultEventInterval;
    const Tessel &m_tessel;
    std::unique_ptr<HBKServer> m_server;
    std::u16string m_serverName;
    int32_t m_serverPort = kServerPort;
};

// The ctime text of now: 24 characters and a line end.
std::string CurrentCtimeText();
