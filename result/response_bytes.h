// A response text in one block from malloc, always ended by a zero byte, so
// that the gateway can be handed the block itself (it gives it back through
// "free") instead of a copy.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

class ResponseBytes {
  public:
    ResponseBytes() = default;

    // Room for `room` bytes and the zero after them; the text is empty until
    // SetSize.
    static ResponseBytes WithRoom(std::size_t room) {
        ResponseBytes bytes;
        bytes.m_block.reset(static_cast<char *>(std::malloc(room + 1)));
        if (!bytes.m_block) throw std::bad_alloc();
        bytes.m_block.get()[0] = '\0';
        return bytes;
    }

    char *data() { return m_block.get(); }
    // The text, or "" when there is no block.
    const char *c_str() const { return m_block ? m_block.get() : ""; }
    std::size_t size() const { return m_size; }
    // The first `size` bytes written are the text; `size` must leave room for
    // the zero.
    void SetSize(std::size_t size) {
        m_size = size;
        m_block.get()[size] = '\0';
    }
    // The block for the caller to free with std::free (null when empty).
    char *Release() {
        m_size = 0;
        return m_block.release();
    }

  private:
    struct Free {
        void operator()(char *block) const { std::free(block); }
    };
    std::unique_ptr<char, Free> m_block;
    std::size_t m_size = 0;
};
