// The records a result table has accepted, kept in bulk: their texts are
// copied into large blocks that never move, and each value is a small entry
// pointing into them. A table of many rows then costs a few allocations
// instead of several per row, and the texts stay where they are (the UNIQUE
// index keeps views of them) for as long as the store keeps its records.
//
// The blocks and the entry lists are taken from, and given back to, a pool
// of the calling thread (StoreMemory), so that invokes in a row reuse memory
// that is already there instead of making the heap grow and shrink.
//
// A record is staged value by value, read back as a RecordView while the
// filter decides, then committed or discarded; a discarded record's room is
// reused by the next. Belongs to one result table; not locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

// One value: its text, then its drill-down link (empty: none) right behind it
// in the same block, each with whether XML escaping changes it (worked out
// while the text is at hand, so that the response can copy most values as
// they are).
struct StoredValue {
    const char *bytes;
    uint32_t textSize : 31;
    uint32_t textEscapes : 1;
    uint32_t linkSize : 31;
    uint32_t linkEscapes : 1;

    std::string_view text() const { return std::string_view(bytes, textSize); }
    std::string_view link() const { return std::string_view(bytes + textSize, linkSize); }
};

// The values of one record by column position. A record may hold fewer values
// than the table has columns: the missing ones read as empty texts.
class RecordView {
  public:
    RecordView(const StoredValue *values, std::size_t count) : m_values(values), m_count(count) {}
    std::size_t size() const { return m_count; }
    const StoredValue &operator[](std::size_t position) const { return m_values[position]; }
    std::string_view TextAt(std::size_t position) const {
        return position < m_count ? m_values[position].text() : std::string_view();
    }

  private:
    const StoredValue *m_values;
    std::size_t m_count;
};

class RecordStore {
  public:
    RecordStore() = default;
    RecordStore(RecordStore &&other) noexcept { *this = std::move(other); }
    RecordStore &operator=(RecordStore &&other) noexcept;
    RecordStore(const RecordStore &) = delete;
    RecordStore &operator=(const RecordStore &) = delete;
    ~RecordStore();

    // Starts a record, dropping any staged one that was neither committed nor
    // discarded.
    void Begin();
    // Appends a value to the staged record (both texts copied). Throws
    // std::length_error for a text of 2 GiB or more.
    void Add(std::string_view text, std::string_view link);
    RecordView Staged() const {
        return RecordView(m_values.data() + StagedStart(), m_values.size() - StagedStart());
    }
    void Commit() {
        m_ends.push_back(static_cast<uint32_t>(m_values.size()));
        m_staging = false;
    }
    void Discard();

    std::size_t Count() const { return m_ends.size(); }
    RecordView At(std::size_t record) const {
        const std::size_t start = record == 0 ? 0 : m_ends[record - 1];
        return RecordView(m_values.data() + start, m_ends[record] - start);
    }
    // Gives back the text blocks that only records before `record` use; those
    // records must not be read again.
    void ReleaseBefore(std::size_t record);

  private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t size;
        std::size_t firstRecord;  // the record being staged when it was taken
    };

    std::size_t StagedStart() const { return m_ends.empty() ? 0 : m_ends.back(); }
    char *Room(std::size_t size);
    void GiveBack();

    std::vector<Block> m_blocks;  // blocks before m_released are given back
    std::size_t m_released = 0;
    char *m_at = nullptr;  // the free room of the last block
    char *m_end = nullptr;
    char *m_stagedAt = nullptr;  // m_at when the staged record began
    std::size_t m_stagedBlocks = 0;
    bool m_staging = false;
    std::vector<StoredValue> m_values;
    // Per committed record: one past its last value. A table holds fewer than
    // 2^32 values long before that (each takes 16 bytes).
    std::vector<uint32_t> m_ends;
};
