// Reads a fuzz input as a stream of small choices. Past the end every choice
// reads as 0, so any input, however short, describes a complete case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class FuzzInput {
  public:
    FuzzInput(const uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    // A number below `count` (count > 0).
    std::size_t Below(std::size_t count) { return Byte() % count; }
    // One of `choices`, by the next byte.
    template <typename T, std::size_t N>
    T Pick(const T (&choices)[N]) {
        return choices[Below(N)];
    }
    // A text of at most `maxLength` bytes of `alphabet`.
    std::string Text(std::string_view alphabet, std::size_t maxLength) {
        std::string text(Below(maxLength + 1), '\0');
        for (char &c : text) c = alphabet[Below(alphabet.size())];
        return text;
    }
    // Everything not read yet.
    std::string_view Rest() {
        const std::string_view rest(reinterpret_cast<const char *>(m_data) + m_at, m_size - m_at);
        m_at = m_size;
        return rest;
    }

  private:
    const uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};
