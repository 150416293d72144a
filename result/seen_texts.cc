#include "result/seen_texts.h"

void SeenTexts::Prefetch(std::string_view text, uint64_t ticket) const {
    if (m_slots.empty()) return;
    m_prefetchTicket = ticket;
    m_prefetchHash = Hash(text);
    __builtin_prefetch(&m_slots[m_prefetchHash & (m_slots.size() - 1)]);
}

void SeenTexts::Reserve(std::size_t count) {
    std::size_t slots = 64;
    while (slots < 2 * count) slots *= 2;
    if (slots > m_slots.size()) Grow(slots);
}

void SeenTexts::Grow(std::size_t slots) {
    m_lastTicket = 0;
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(slots, Slot{});
    const std::size_t mask = slots - 1;
    for (const Slot &slot : old) {
        if (slot.number == kEmpty) continue;
        std::size_t i = slot.hash & mask;
        while (m_slots[i].number != kEmpty) i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}
