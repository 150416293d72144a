#include "result/unique_index.h"

#include <functional>
#include <memory>

bool UniqueIndex::Holds(std::size_t position, std::string_view text, const RecordStore &accepted) {
    for (const Position &tracked : m_positions)
        if (tracked.position == position) return !tracked.texts.Contains(text);
    Position &tracked = m_positions.emplace_back(Position{position, {}});
    tracked.texts.Reserve(accepted.Count());
    for (std::size_t record = 0; record < accepted.Count(); ++record)
        tracked.texts.Insert(accepted.At(record).TextAt(position));
    return !tracked.texts.Contains(text);
}

void UniqueIndex::Add(const RecordView &record, bool tested) {
    if (!tested) ForgetLookups();
    for (Position &tracked : m_positions) tracked.texts.Insert(record.TextAt(tracked.position));
}

std::size_t UniqueIndex::TextSet::Find(std::string_view text, uint32_t hash) const {
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot &slot = m_slots[i];
        if (slot.text == kFree) return i;
        if (slot.hash == hash && m_texts[slot.text] == text) return i;
    }
}

bool UniqueIndex::TextSet::Contains(std::string_view text) const {
    if (m_slots.empty()) return false;
    const uint32_t hash = Hash(text);
    const std::size_t slot = Find(text, hash);
    m_last = Lookup{text.data(), text.size(), hash, slot};
    return m_slots[slot].text != kFree;
}

void UniqueIndex::TextSet::Insert(std::string_view text) {
    if (2 * (m_texts.size() + 1) > m_slots.size()) Grow(m_slots.empty() ? 64 : 2 * m_slots.size());
    // The same view of the same record (see Add) holds the same text.
    const bool known =
        m_last.data != nullptr && m_last.data == text.data() && m_last.size == text.size();
    const uint32_t hash = known ? m_last.hash : Hash(text);
    const std::size_t index = known ? m_last.slot : Find(text, hash);
    m_last.data = nullptr;
    Slot &slot = m_slots[index];
    if (slot.text != kFree) return;
    // A table of 2^32 records would need far more memory than a process has.
    slot = Slot{hash, static_cast<uint32_t>(m_texts.size())};
    m_texts.push_back(text);
}

void UniqueIndex::TextSet::Reserve(std::size_t count) {
    std::size_t slots = 64;
    while (slots < 2 * count) slots *= 2;
    if (slots > m_slots.size()) Grow(slots);
    m_texts.reserve(count);
}

void UniqueIndex::TextSet::Grow(std::size_t slots) {
    m_last.data = nullptr;
    std::vector<Slot> old(slots);
    old.swap(m_slots);
    const std::size_t mask = slots - 1;
    for (const Slot &slot : old) {
        if (slot.text == kFree) continue;
        std::size_t i = slot.hash & mask;
        while (m_slots[i].text != kFree) i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}
