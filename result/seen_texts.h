// A set of texts for UNIQUE. Texts are kept one after the other in a byte
// arena; a compact open-addressing index (8 bytes a slot, at most half full)
// points into it, so that a lookup usually touches one cache line of the index
// and an insert allocates nothing but amortised growth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class SeenTexts {
  public:
    bool Contains(std::string_view text) const;
    // Adds the text unless it is already there.
    void Insert(std::string_view text);
    void Reserve(std::size_t count);
    std::size_t size() const { return m_entries.size(); }

  private:
    struct Slot {
        uint32_t hash = 0;        // low bits of the text's hash
        uint32_t entry = kEmpty;  // index into m_entries
    };
    struct Entry {
        std::size_t offset;
        std::size_t length;
    };
    static constexpr uint32_t kEmpty = UINT32_MAX;

    static uint32_t Hash(std::string_view text);
    // The slot holding `text`, or the empty slot where it belongs.
    std::size_t Find(std::string_view text, uint32_t hash) const;
    void Grow(std::size_t slots);

    std::vector<Slot> m_slots;  // a power of two in size
    std::vector<Entry> m_entries;
    std::string m_bytes;
};
