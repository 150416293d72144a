// The index behind UNIQUE: which texts the accepted records hold at the
// column positions that some UNIQUE predicate has asked about (rarely more
// than one).
//
// It keeps views of the accepted records' texts, not copies. Accepted records
// are never changed and their texts never move (see RecordStore), so the
// views stay valid for as long as the records are kept; the owner clears the
// index whenever it lets go of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "result/record_store.h"

class UniqueIndex {
  public:
    // True when no record of `accepted` holds `text` at `position`. The first
    // question about a position reads the records accepted so far; from then
    // on Add keeps that position up to date.
    bool Holds(std::size_t position, std::string_view text, const RecordStore &accepted);
    // `record` has just been accepted (and is now the last of `accepted`).
    // Holds keeps its last lookup per position, so that this Add can reuse it
    // for the same record; `tested` says that the lookups since the last
    // ForgetLookups were made for `record`.
    void Add(const RecordView &record, bool tested);
    // A new record is about to be tested: earlier lookups are not its own.
    void ForgetLookups() {
        for (Position &tracked : m_positions) tracked.texts.ForgetLookup();
    }
    // A hint that `text`, a value at `position`, will be looked up soon.
    void Prefetch(std::size_t position, std::string_view text) const {
        for (const Position &tracked : m_positions)
            if (tracked.position == position) tracked.texts.Prefetch(text);
    }
    void Clear() { m_positions.clear(); }
    bool Empty() const { return m_positions.empty(); }

  private:
    // A set of text views: the views in insertion order, and an open-
    // addressing table of 8-byte slots (a power of two, at most half full)
    // that maps hashes to them. A lookup reads a view only when the hashes
    // match; growing reads none.
    class TextSet {
      public:
        bool Contains(std::string_view text) const;
        // Reuses the last Contains when it was for the same view.
        void Insert(std::string_view text);
        void ForgetLookup() { m_last.data = nullptr; }
        void Reserve(std::size_t count);
        void Prefetch(std::string_view text) const {
            if (!m_slots.empty()) __builtin_prefetch(&m_slots[Hash(text) & (m_slots.size() - 1)]);
        }

      private:
        static constexpr uint32_t kFree = UINT32_MAX;
        struct Slot {
            uint32_t hash = 0;      // the low bits of the text's hash
            uint32_t text = kFree;  // index into m_texts
        };
        static uint32_t Hash(std::string_view text) {
            return static_cast<uint32_t>(std::hash<std::string_view>{}(text));
        }
        // The slot holding `text`, or the free slot where it belongs.
        std::size_t Find(std::string_view text, uint32_t hash) const;
        void Grow(std::size_t slots);

        std::vector<std::string_view> m_texts;
        std::vector<Slot> m_slots;
        // The last lookup; cleared by every change of the table.
        struct Lookup {
            const char *data = nullptr;  // null: none
            std::size_t size = 0;
            uint32_t hash = 0;
            std::size_t slot = 0;
        };
        mutable Lookup m_last;
    };

    struct Position {
        std::size_t position;
        TextSet texts;
    };
    std::vector<Position> m_positions;
};
