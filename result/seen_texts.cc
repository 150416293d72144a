#include "result/seen_texts.h"

#include <functional>

uint32_t SeenTexts::Hash(std::string_view text) {
    return static_cast<uint32_t>(std::hash<std::string_view>{}(text));
}

std::size_t SeenTexts::Find(std::string_view text, uint32_t hash) const {
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot &slot = m_slots[i];
        if (slot.entry == kEmpty) return i;
        if (slot.hash != hash) continue;
        const Entry &entry = m_entries[slot.entry];
        if (entry.length == text.size() &&
            std::string_view(m_bytes).substr(entry.offset, entry.length) == text)
            return i;
    }
}

bool SeenTexts::Contains(std::string_view text) const {
    if (m_entries.empty()) return false;
    return m_slots[Find(text, Hash(text))].entry != kEmpty;
}

void SeenTexts::Insert(std::string_view text) {
    if (2 * (m_entries.size() + 1) > m_slots.size())
        Grow(m_slots.empty() ? 64 : 2 * m_slots.size());
    const uint32_t hash = Hash(text);
    Slot &slot = m_slots[Find(text, hash)];
    if (slot.entry != kEmpty) return;
    // An index of 2^32 entries would need far more memory than any table has.
    slot.hash = hash;
    slot.entry = static_cast<uint32_t>(m_entries.size());
    m_entries.push_back({m_bytes.size(), text.size()});
    m_bytes.append(text);
}

void SeenTexts::Reserve(std::size_t count) {
    std::size_t slots = 64;
    while (slots < 2 * count) slots *= 2;
    if (slots > m_slots.size()) Grow(slots);
    m_entries.reserve(count);
}

void SeenTexts::Grow(std::size_t slots) {
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(slots, Slot{});
    const std::size_t mask = slots - 1;
    for (const Slot &slot : old) {
        if (slot.entry == kEmpty) continue;
        std::size_t i = slot.hash & mask;
        while (m_slots[i].entry != kEmpty) i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}
