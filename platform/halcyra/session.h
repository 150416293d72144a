// A server's link to the state: loads it through the process-wide cache and
// publishes what it holds for HBKUser lookups by connection id.
#pragma once

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
    // caller keeps what it shows) when disconnected or the load fails.
    std::shared_ptr<const State> Refresh();
    bool Connected() const { return m_connected; }

  private:
    void Publish(std::shared_ptr<const State> state);

    unsigned long m_conid;
    bool m_connected = false;
};

}  // namespace halcyra
