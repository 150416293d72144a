// NorloTessel: the application behind the application hook. Dispatches each
// request by action and table name to the method that fills the result table.
//
// One object exists between "Initialize" and "Terminate". Run may be called
// from many threads at once; the methods here touch only the request's own
// tslData and read-only fields.
#pragma once

#include <cstdint>
#include <string>

class Tessel;
class tslData;

class NorloTessel {
  public:
    explicit NorloTessel(const Tessel &tessel);
    ~NorloTessel() = default;
    NorloTessel(const NorloTessel &) = delete;
    NorloTessel &operator=(const NorloTessel &) = delete;

    // Logs the request and runs the method its table names; always 0.
    int32_t Run(tslData &request);

    int32_t sDefine(tslData &request);
    int32_t sAge(tslData &request);
    int32_t sAgeDetail(tslData &request);

    int32_t EventInterval() const { return m_eventInterval; }

    static constexpr int32_t kDefaultEventInterval = 10;
    static constexpr int32_t kServerPort = 1900;

  private:
    void LogRequest(const tslData &request) const;

    int32_t m_eventInterval = kDefaultEventInterval;
    const Tessel &m_tessel;
    std::u16string m_serverName;
    int32_t m_serverPort = kServerPort;
};

// The ctime text of now: 24 characters and a line end.
std::string CurrentCtimeText();
