#include <ostream>

#include "halcyra/halcyra_server.h"
#include "halcyra/session.h"

namespace {

// UTF-16 to UTF-8 for print; a lone surrogate becomes U+FFFD.
std::string Utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void PrintEntity(std::ostream &out, const char *kind, std::u16string_view name, int active,
                 int isProtected) {
    out << kind << ' ' << Utf8(name) << " active=" << active << " protected=" << isProtected
        << '\n';
}

}  // namespace

int HBKEntity::Refuse(const char *operation) {
    SetLastError(std::string(m_kind) + "::" + operation, halcyra::kErrorReadOnly, 0);
    return 0;
}

int HBKEntity::Save() {
    return Refuse("Save");
}
int HBKEntity::Add() {
    return Refuse("Add");
}
int HBKEntity::AddToDB() {
    return Refuse("AddToDB");
}
int HBKEntity::SetParent(HBKOrgNode *) {
    return Refuse("SetParent");
}
int HBKEntity::SetName(const std::u16string &) {
    return Refuse("SetName");
}
int HBKEntity::SetActive(int) {
    return Refuse("SetActive");
}
int HBKEntity::SetProtected(int) {
    return Refuse("SetProtected");
}

HBKOrgNode::HBKOrgNode(halcyra::Session &session, std::shared_ptr<const halcyra::State> state,
                       std::uint32_t index)
    : HBKEntity("HBKOrgNode"), m_session(session), m_state(std::move(state)), m_index(index) {}

HBKOrgNode::~HBKOrgNode() = default;

const halcyra::Node &HBKOrgNode::Shown() const {
    return m_state->nodes[m_index];
}

void HBKOrgNode::Bind(std::shared_ptr<const halcyra::State> state, std::uint32_t index) {
    if (state == m_state && index == m_index) return;
    m_state = std::move(state);
    m_index = index;
    m_position = 0;
    m_children.clear();
}

void HBKOrgNode::Refresh() {
    std::shared_ptr<const halcyra::State> newest = m_session.Refresh();
    if (!newest || newest == m_state) return;
    // The node's place: child positions from the root down, found by climbing.
    std::vector<std::uint32_t> positions;
    for (std::uint32_t at = m_index; at != 0; at = m_state->nodes[at].parent)
        positions.push_back(m_state->nodes[at].position);
    std::uint32_t found = 0;
    for (auto it = positions.rbegin(); it != positions.rend(); ++it) {
        const std::vector<std::uint32_t> &children = newest->nodes[found].children;
        if (*it >= children.size()) return;
        found = children[*it];
    }
    const halcyra::Node &now = newest->nodes[found];
    // The root is the server's organization whatever its name.
    if (m_index != 0 && (now.name != Shown().name || now.type != Shown().type)) return;
    Bind(std::move(newest), found);
}

void HBKOrgNode::SetStartPosition() {
    m_position = 0;
}

HBKOrgNode *HBKOrgNode::GetNext() {
    const std::vector<std::uint32_t> &children = Shown().children;
    if (m_position >= children.size()) return nullptr;
    if (m_children.size() != children.size()) m_children.resize(children.size());
    std::unique_ptr<HBKOrgNode> &child = m_children[m_position];
    if (!child) child = std::make_unique<HBKOrgNode>(m_session, m_state, children[m_position]);
    ++m_position;
    return child.get();
}

std::u16string HBKOrgNode::GetName() const {
    return Shown().name;
}

orgType HBKOrgNode::GetType() const {
    return Shown().type;
}

int HBKOrgNode::GetActive() const {
    return Shown().active;
}

int HBKOrgNode::GetProtected() const {
    return Shown().isProtected;
}

void HBKOrgNode::print(std::ostream &out) const {
    PrintEntity(out, GetType() == orgUser ? "user" : "organization", Shown().name, GetActive(),
                GetProtected());
}

HBKUser::HBKUser(unsigned long conid, const std::u16string &name)
    : HBKEntity("HBKUser"), m_name(name), m_state(halcyra::PublishedState(conid)) {
    if (!m_state) return;
    auto found = m_state->userByName.find(name);
    if (found != m_state->userByName.end()) {
        m_node = found->second;
    } else {
        m_state.reset();
    }
}

HBKUser::~HBKUser() = default;

const halcyra::Node *HBKUser::Found() const {
    return m_state ? &m_state->nodes[m_node] : nullptr;
}

std::u16string HBKUser::GetConfig() const {
    return Found() ? Found()->config : std::u16string();
}

std::u16string HBKUser::GetLastLoginDate() const {
    return Found() ? Found()->lastLoginDate : std::u16string();
}

std::u16string HBKUser::GetDataPath() const {
    return Found() ? Found()->dataPath : std::u16string();
}

std::u16string HBKUser::GetLastBackupDate() const {
    return Found() ? Found()->lastBackupDate : std::u16string();
}

unsigned long HBKUser::GetStorageSize() const {
    return Found() ? Found()->storageSize : 0;
}

int HBKUser::GetActive() const {
    return Found() ? Found()->active : 0;
}

int HBKUser::GetProtected() const {
    return Found() ? Found()->isProtected : 0;
}

void HBKUser::print(std::ostream &out) const {
    PrintEntity(out, "user", m_name, GetActive(), GetProtected());
}
