#include "halcyra/halcyra_server.h"

#include <atomic>

#include "halcyra/session.h"

namespace {
std::atomic<long> g_lastConid{0};
}

HBKObject::HBKObject() = default;
HBKObject::~HBKObject() = default;

void HBKObject::SetLastError(std::string_view where, std::string_view id, long index) {
    m_lastError = std::make_unique<HBKError>(HBKError{std::string(where), std::string(id), index});
}

const HBKError *HBKObject::GetLastError() const {
    return m_lastError.get();
}

void HBKObject::ClearLastError() {
    m_lastError.reset();
}

long HBKCollection::GetCount() const {
    return static_cast<long>(Count());
}

HBKObject *HBKCollection::GetItemAt(long index) {
    if (index < 0 || static_cast<std::size_t>(index) >= Count()) {
        SetLastError("HBKCollection::GetItemAt", halcyra::kErrorBadIndex, index);
        return nullptr;
    }
    return Item(static_cast<std::size_t>(index));
}

void HBKBackupOptions::Set(int packageSize, int lowDiskSpaceLimit) {
    m_packageSize = packageSize;
    m_lowDiskSpaceLimit = lowDiskSpaceLimit;
}

HBKMessageLog::~HBKMessageLog() = default;

void HBKMessageLog::Bind(std::shared_ptr<const halcyra::State> state) {
    m_state = std::move(state);
    m_next = 0;
}

int HBKMessageLog::GetNextMessage(int &severity, std::u16string &date, std::u16string &source,
                                  std::u16string &description, std::u16string &extension) {
    if (!m_state || m_next >= m_state->messages.size()) return 0;
    const halcyra::Message &m = m_state->messages[m_next++];
    severity = m.severity;
    date = m.date;
    source = m.source;
    description = m.description;
    extension = m.extension;
    return 1;
}

HBKServer::HBKServer()
    : m_conid(g_lastConid.fetch_add(1, std::memory_order_relaxed) + 1),
      m_session(std::make_unique<halcyra::Session>(static_cast<unsigned long>(m_conid))),
      m_log(std::make_unique<HBKMessageLog>()),
      m_configurations(std::make_unique<HBKUserConfigurations>(*m_session)),
      m_root(std::make_unique<HBKOrgNode>(*m_session, halcyra::EmptyState(), 0)) {
    Bind(halcyra::EmptyState());
}

HBKServer::~HBKServer() = default;

void HBKServer::Bind(const std::shared_ptr<const halcyra::State> &state) {
    m_log->Bind(state);
    m_configurations->Bind(state);
    m_root->Bind(state, 0);
}

int HBKServer::Connect(const std::u16string &, int) {
    std::string_view error;
    std::shared_ptr<const halcyra::State> state = m_session->Connect(error);
    if (!state) {
        SetLastError("HBKServer::Connect", error, 0);
        Bind(halcyra::EmptyState());
        return 0;
    }
    Bind(state);
    return 1;
}

int HBKServer::Startup() {
    return m_session->Connected() ? 1 : 0;
}

HBKMessageLog *HBKServer::GetMessageLog() {
    m_log->Rewind();
    return m_log.get();
}
