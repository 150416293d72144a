// The index behind UNIQUE: which texts the accepted records hold at one
// column position. It stores no texts of its own, only a compact open-
// addressing table (8 bytes a slot, at most half full) of hashes and record
// numbers; a caller-supplied `textOf(record number)` reads a text back when a
// hash matches. A lookup usually touches one cache line of the table.
//
// A table test asks Contains and, when the record is accepted, Insert for the
// same text. Both may carry a ticket naming that test (never 0); an Insert
// with the ticket of the last Contains reuses its hash and slot instead of
// probing again. Prefetch lets a caller start the table's cache miss early.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class SeenTexts {
  public:
    template <typename TextOf>
    bool Contains(std::string_view text, const TextOf &textOf, uint64_t ticket = 0) const;
    // Records that record `number` holds `text`, unless an earlier one does.
    template <typename TextOf>
    void Insert(uint32_t number, std::string_view text, const TextOf &textOf, uint64_t ticket = 0);
    // Room for `count` texts without growing.
    void Reserve(std::size_t count);
    // A hint that `text` will be looked up soon, by the test of `ticket`,
    // which then reuses the hash computed here.
    void Prefetch(std::string_view text, uint64_t ticket) const;
    std::size_t size() const { return m_count; }

  private:
    struct Slot {
        uint32_t hash = 0;         // low bits of the text's hash
        uint32_t number = kEmpty;  // the record holding the text
    };
    static constexpr uint32_t kEmpty = UINT32_MAX;

    static uint32_t Hash(std::string_view text) {
        return static_cast<uint32_t>(std::hash<std::string_view>{}(text));
    }
    // The slot holding `text`, or the empty slot where it belongs.
    template <typename TextOf>
    std::size_t Find(std::string_view text, uint32_t hash, const TextOf &textOf) const;
    void Grow(std::size_t slots);

    std::vector<Slot> m_slots;  // a power of two in size
    std::size_t m_count = 0;

    // The last lookup: its ticket, hash and slot. Any change of the table
    // clears the ticket.
    mutable uint64_t m_lastTicket = 0;
    // The last prefetch: its ticket and hash.
    mutable uint64_t m_prefetchTicket = 0;
    mutable uint32_t m_prefetchHash = 0;
    mutable uint32_t m_lastHash = 0;
    mutable std::size_t m_lastSlot = 0;
};

template <typename TextOf>
std::size_t SeenTexts::Find(std::string_view text, uint32_t hash, const TextOf &textOf) const {
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot &slot = m_slots[i];
        if (slot.number == kEmpty) return i;
        if (slot.hash == hash && std::string_view(textOf(slot.number)) == text) return i;
    }
}

template <typename TextOf>
bool SeenTexts::Contains(std::string_view text, const TextOf &textOf, uint64_t ticket) const {
    if (m_count == 0) return false;
    const uint32_t hash = ticket != 0 && ticket == m_prefetchTicket ? m_prefetchHash : Hash(text);
    const std::size_t slot = Find(text, hash, textOf);
    m_lastTicket = ticket;
    m_lastHash = hash;
    m_lastSlot = slot;
    return m_slots[slot].number != kEmpty;
}

template <typename TextOf>
void SeenTexts::Insert(uint32_t number, std::string_view text, const TextOf &textOf,
                       uint64_t ticket) {
    if (2 * (m_count + 1) > m_slots.size()) Grow(m_slots.empty() ? 64 : 2 * m_slots.size());
    uint32_t hash;
    std::size_t index;
    if (ticket != 0 && ticket == m_lastTicket) {
        hash = m_lastHash;
        index = m_lastSlot;
    } else {
        hash = Hash(text);
        index = Find(text, hash, textOf);
    }
    m_lastTicket = 0;
    Slot &slot = m_slots[index];
    if (slot.number != kEmpty) return;
    slot.hash = hash;
    slot.number = number;
    ++m_count;
}
