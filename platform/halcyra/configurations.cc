#include "halcyra/halcyra_server.h"
#include "halcyra/session.h"

namespace halcyra {

// The document gives a configuration's backup sets only as a count; each item
// is a plain object, made when first asked for.
class BackupSets : public HBKCollection {
  public:
    explicit BackupSets(std::size_t count) : m_items(count) {}

  private:
    std::size_t Count() const override { return m_items.size(); }
    HBKObject *Item(std::size_t index) override {
        if (!m_items[index]) m_items[index] = std::make_unique<HBKObject>();
        return m_items[index].get();
    }

    std::vector<std::unique_ptr<HBKObject>> m_items;
};

}  // namespace halcyra

HBKUserConfiguration::HBKUserConfiguration(halcyra::Session &session,
                                           std::shared_ptr<const halcyra::State> state,
                                           std::size_t index)
    : m_session(session) {
    Bind(std::move(state), index);
}

HBKUserConfiguration::~HBKUserConfiguration() = default;

void HBKUserConfiguration::Bind(std::shared_ptr<const halcyra::State> state, std::size_t index) {
    m_state = std::move(state);
    m_index = index;
    const halcyra::Configuration &c = m_state->configurations[index];
    m_backupSets = std::make_unique<halcyra::BackupSets>(static_cast<std::size_t>(c.backupSets));
    m_options.Set(c.packageSize, c.lowDiskSpaceLimit);
}

void HBKUserConfiguration::Refresh() {
    std::shared_ptr<const halcyra::State> newest = m_session.Refresh();
    if (!newest || newest == m_state) return;
    auto found = newest->configurationByName.find(m_state->configurations[m_index].name);
    if (found != newest->configurationByName.end()) Bind(std::move(newest), found->second);
}

std::u16string HBKUserConfiguration::GetName() const {
    return m_state->configurations[m_index].name;
}

std::u16string HBKUserConfiguration::GetFileName() const {
    return m_state->configurations[m_index].fileName;
}

HBKCollection *HBKUserConfiguration::GetBackupSets() {
    return m_backupSets.get();
}

HBKUserConfigurations::HBKUserConfigurations(halcyra::Session &session)
    : m_session(session), m_state(halcyra::EmptyState()) {}

HBKUserConfigurations::~HBKUserConfigurations() = default;

void HBKUserConfigurations::Bind(std::shared_ptr<const halcyra::State> state) {
    if (state == m_state) return;
    m_state = std::move(state);
    m_items.clear();
    m_items.resize(m_state->configurations.size());
}

void HBKUserConfigurations::Refresh() {
    if (std::shared_ptr<const halcyra::State> newest = m_session.Refresh()) Bind(std::move(newest));
}

std::u16string HBKUserConfigurations::GetDefault() const {
    return m_state->defaultConfiguration;
}

HBKUserConfiguration *HBKUserConfigurations::GetItemAt(long index) {
    // Every item of this collection is a configuration.
    return static_cast<HBKUserConfiguration *>(HBKCollection::GetItemAt(index));
}

std::size_t HBKUserConfigurations::Count() const {
    return m_items.size();
}

HBKObject *HBKUserConfigurations::Item(std::size_t index) {
    if (!m_items[index])
        m_items[index] = std::make_unique<HBKUserConfiguration>(m_session, m_state, index);
    return m_items[index].get();
}
