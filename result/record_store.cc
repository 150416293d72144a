#include "result/record_store.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "base/escaping.h"

namespace {

// Large enough that a table of short values takes a block per few hundred
// rows, small enough that a small table holds little.
constexpr std::size_t kBlockSize = 64 * 1024;

// What one thread keeps between invokes: text blocks and entry lists, each
// only up to a bound, so that a thread that once answered a huge table does
// not hold its memory for ever.
struct StoreMemory {
    static constexpr std::size_t kMaxBlocks = 256;          // 16 MiB of text
    static constexpr std::size_t kMaxValues = 1024 * 1024;  // 16 MiB of entries
    static constexpr std::size_t kMaxEnds = 1024 * 1024;    // 4 MiB of record ends

    std::vector<std::unique_ptr<char[]>> blocks;
    std::vector<StoredValue> values;
    std::vector<uint32_t> ends;
};

StoreMemory &ThreadMemory() {
    thread_local StoreMemory memory;
    return memory;
}

std::unique_ptr<char[]> TakeBlock() {
    StoreMemory &memory = ThreadMemory();
    if (memory.blocks.empty()) return std::make_unique_for_overwrite<char[]>(kBlockSize);
    std::unique_ptr<char[]> block = std::move(memory.blocks.back());
    memory.blocks.pop_back();
    return block;
}

void KeepBlock(std::unique_ptr<char[]> block) {
    StoreMemory &memory = ThreadMemory();
    if (memory.blocks.size() < StoreMemory::kMaxBlocks) memory.blocks.push_back(std::move(block));
}

// Swaps in the thread's kept list when `list` has no room of its own yet.
template <typename T>
void TakeList(std::vector<T> &list, std::vector<T> &kept) {
    if (list.capacity() == 0) list.swap(kept);
}

template <typename T>
void KeepList(std::vector<T> &list, std::vector<T> &kept, std::size_t bound) {
    if (list.capacity() <= bound && list.capacity() > kept.capacity()) {
        list.clear();
        list.swap(kept);
    }
}

}  // namespace

RecordStore &RecordStore::operator=(RecordStore &&other) noexcept {
    if (this != &other) {
        GiveBack();
        m_blocks = std::move(other.m_blocks);
        m_released = std::exchange(other.m_released, 0);
        m_at = std::exchange(other.m_at, nullptr);
        m_end = std::exchange(other.m_end, nullptr);
        m_stagedAt = std::exchange(other.m_stagedAt, nullptr);
        m_stagedBlocks = std::exchange(other.m_stagedBlocks, 0);
        m_staging = std::exchange(other.m_staging, false);
        m_values = std::move(other.m_values);
        m_ends = std::move(other.m_ends);
    }
    return *this;
}

RecordStore::~RecordStore() {
    GiveBack();
}

void RecordStore::GiveBack() {
    // Give-backs may not throw (destructor, move): a list the pool cannot take
    // is freed, and the pool's block list only grows within its reserve.
    StoreMemory &memory = ThreadMemory();
    if (memory.blocks.capacity() < StoreMemory::kMaxBlocks) {
        try {
            memory.blocks.reserve(StoreMemory::kMaxBlocks);
        } catch (...) {
        }
    }
    for (std::size_t i = m_released; i < m_blocks.size(); ++i)
        if (m_blocks[i].size == kBlockSize && memory.blocks.size() < memory.blocks.capacity())
            KeepBlock(std::move(m_blocks[i].bytes));
    m_blocks.clear();
    m_released = 0;
    m_at = m_end = m_stagedAt = nullptr;
    m_staging = false;
    KeepList(m_values, memory.values, StoreMemory::kMaxValues);
    KeepList(m_ends, memory.ends, StoreMemory::kMaxEnds);
}

void RecordStore::Begin() {
    Discard();
    if (m_values.capacity() == 0) {
        StoreMemory &memory = ThreadMemory();
        TakeList(m_values, memory.values);
        TakeList(m_ends, memory.ends);
    }
    m_stagedAt = m_at;
    m_stagedBlocks = m_blocks.size();
    m_staging = true;
}

void RecordStore::Add(std::string_view text, std::string_view link) {
    constexpr std::size_t kLimit = 0x7FFFFFFF;
    if (text.size() > kLimit || link.size() > kLimit)
        throw std::length_error("RecordStore: value of 2 GiB or more");
    char *const bytes = Room(text.size() + link.size());
    if (!text.empty()) std::memcpy(bytes, text.data(), text.size());
    if (!link.empty()) std::memcpy(bytes + text.size(), link.data(), link.size());
    StoredValue value{bytes, static_cast<uint32_t>(text.size()), 0,
                      static_cast<uint32_t>(link.size()), 0};
    value.textEscapes = XmlEscapingChanges(value.text());
    value.linkEscapes = !link.empty() && XmlEscapingChanges(value.link());
    m_values.push_back(value);
}

void RecordStore::Discard() {
    if (!m_staging) return;
    m_staging = false;
    m_values.resize(StagedStart());
    // The room the record took in the block it began in is taken again; a
    // block begun for it is kept for the next.
    if (m_blocks.size() == m_stagedBlocks) m_at = m_stagedAt;
}

char *RecordStore::Room(std::size_t size) {
    if (static_cast<std::size_t>(m_end - m_at) < size) {
        Block block{nullptr, std::max(kBlockSize, size), Count()};
        block.bytes = block.size == kBlockSize ? TakeBlock()
                                               : std::make_unique_for_overwrite<char[]>(block.size);
        m_blocks.push_back(std::move(block));
        m_at = m_blocks.back().bytes.get();
        m_end = m_at + m_blocks.back().size;
    }
    char *const room = m_at;
    m_at += size;
    return room;
}

void RecordStore::ReleaseBefore(std::size_t record) {
    // Block k holds texts of records from its firstRecord up to the next
    // block's firstRecord (that one may begin in block k and go on in k + 1).
    while (m_released + 1 < m_blocks.size() && m_blocks[m_released + 1].firstRecord < record) {
        Block &block = m_blocks[m_released++];
        if (block.size == kBlockSize) {
            KeepBlock(std::move(block.bytes));
        } else {
            block.bytes.reset();
        }
    }
}
