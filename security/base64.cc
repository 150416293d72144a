#include <array>
#include <cstddef>
#include <cstdint>

#include "base/trace_log.h"
#include "request/tsl_util.h"

namespace {

constexpr int8_t kSkip = -1;  // not in the alphabet: ignored, not counted
constexpr int8_t kEnd = -2;   // the terminating zero or the first "="

constexpr std::array<int8_t, 256> MakeValues() {
    std::array<int8_t, 256> values{};
    values.fill(kSkip);
    int8_t next = 0;
    for (char c = 'A'; c <= 'Z'; ++c) values[static_cast<unsigned char>(c)] = next++;
    for (char c = 'a'; c <= 'z'; ++c) values[static_cast<unsigned char>(c)] = next++;
    for (char c = '0'; c <= '9'; ++c) values[static_cast<unsigned char>(c)] = next++;
    values['+'] = 62;
    values['/'] = 63;
    values['*'] = 63;
    values['='] = kEnd;
    values[0] = kEnd;
    return values;
}

constexpr std::array<int8_t, 256> kValues = MakeValues();

int8_t ValueOf(char c) {
    return kValues[static_cast<unsigned char>(c)];
}

// The lines quote the text; the log cuts a line at kTslMessageBytes anyway, so
// the precision only spares formatting from measuring a text of any length.
constexpr int kQuotedBytes = static_cast<int>(kTslMessageBytes);

}  // namespace

std::size_t tslUtil::BinarySize(const char *text) {
    if (text == nullptr) return 0;
    std::size_t count = 0;
    const char *p = text;
    for (int8_t v; (v = ValueOf(*p)) != kEnd; ++p) {
        if (v >= 0) ++count;
    }
    const int r = static_cast<int>(count % 4);
    if (*p == '=' && r <= 1) {
        TslLog(TSL_TRACE,
               "tslUtil::BinarySize: Invalid end of base64 string: \"%.*s\", (= at position %d of "
               "a group) \n",
               kQuotedBytes, text, r);
        return 0;
    }
    if (*p == '\0' && r != 0) {
        TslLog(TSL_TRACE, "tslUtil::BinarySize: Premature end of base64 string: \"%.*s\" \n",
               kQuotedBytes, text);
        return 0;
    }
    // count / 4 * 3 plus the bytes of a last group of 2 or 3 characters: the
    // same as count * 6 / 8, without the multiplication.
    return count / 4 * 3 + (r == 0 ? 0 : static_cast<std::size_t>(r - 1));
}

int32_t tslUtil::Decode(const char *text, unsigned char *out) {
    const std::size_t size = BinarySize(text);
    if (size == 0 || out == nullptr) return -1;
    // BinarySize has just counted the same characters, so the walk writes
    // exactly `size` bytes; the bound keeps it so even if the text changed.
    std::size_t written = 0;
    unsigned carry = 0;
    int state = 1;
    for (const char *p = text; written < size; ++p) {
        const int8_t v = ValueOf(*p);
        if (v == kEnd) break;
        if (v < 0) continue;
        const unsigned value = static_cast<unsigned>(v);
        switch (state) {
            case 1:
                carry = value;
                state = 2;
                break;
            case 2:
                out[written++] = static_cast<unsigned char>((carry << 2) | (value >> 4));
                carry = value & 15u;
                state = 3;
                break;
            case 3:
                out[written++] = static_cast<unsigned char>((carry << 4) | (value >> 2));
                carry = value & 3u;
                state = 4;
                break;
            default:
                out[written++] = static_cast<unsigned char>((carry << 6) | value);
                state = 1;
                break;
        }
    }
    return 0;
}
