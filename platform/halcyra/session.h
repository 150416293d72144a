// A server's link to the state: loads it through the process-wide cache and
// publishes what it holds for HBKUser lookups by connection id.
#pragma once

#include <chrono>
#include <memory>
#include <string_view>

#include "halcyra/state.h"

namespace halcyra {

// The state of NORLO_SERVER_STATE (or the built-in sample), parsed again only
// when the file changed since it was last read. Thread-safe.
LoadResult LoadCurrentState();

// The state that server `conid` holds now, or null. Thread-safe.
std::shared_ptr<const State> PublishedState(unsigned long conid);

// The state of a server that is not connected: an unnamed root, nothing else.
std::shared_ptr<const State> EmptyState();

// Used by one thread at a time, like its server.
class Session {
  public:
    explicit Session(unsigned long conid);
    // Withdraws the published state; the last session also lets go of the
    // process-wide cache.
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Connect's load. The loaded state becomes the connected state; on failure
    // the session is disconnected and `error` names why.
    std::shared_ptr<const State> Connect(std::string_view &error);
    // Refresh's load: the newest state while connected, or null (then the
    // caller keeps what it shows) when disconnected or the load fails. A walk
    // of the tree refreshes every node it enters, so the file is looked at
    // again only when the last look is kRefreshReuse old; until then the
    // state last loaded is the newest.
    std::shared_ptr<const State> Refresh();
    static constexpr std::chrono::milliseconds kRefreshReuse{100};
    bool Connected() const { return m_connected; }

  private:
    void Publish(std::shared_ptr<const State> state);

    unsigned long m_conid;
    bool m_connected = false;
    std::shared_ptr<const State> m_loaded;  // by the last Connect or Refresh
    std::chrono::steady_clock::time_point m_loadedAt;
};

}  // namespace halcyra
