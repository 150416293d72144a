// libFuzzer target: any text through tslUtil::BinarySize and tslUtil::Decode,
// checked against a plain bit-accumulating decoder. A crash, a sanitizer
// report, a write past the decoded size, a disagreement or a slow input is a
// finding; build and run with fuzz/run.sh.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/trace_log.h"
#include "request/tsl_util.h"

namespace {

void Discard(void *, const char *, std::size_t) {}

int Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/' || c == '*') return 63;
    return -1;
}

// Decoded bytes, or false for a text that does not end on a whole group (or
// one cut after its first "=").
bool Reference(const std::string &text, std::string *bytes) {
    unsigned long bits = 0;
    int held = 0;
    std::size_t count = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] != '='; ++i) {
        const int v = Value(static_cast<unsigned char>(text[i]));
        if (v < 0) continue;
        ++count;
        bits = (bits << 6) | static_cast<unsigned long>(v);
        held += 6;
        if (held >= 8) {
            held -= 8;
            bytes->push_back(static_cast<char>((bits >> held) & 0xFF));
        }
    }
    const bool atPad = i < text.size();
    return atPad ? count % 4 >= 2 : count % 4 == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Keep the trace lines formatted (they quote the text) but out of the output.
    TslSetLevel(TSL_TRACE);
    TslSetDebugSink(Discard, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    // Texts are zero-terminated: the text ends at the first zero byte.
    std::string text(reinterpret_cast<const char *>(data), size);
    text.resize(std::strlen(text.c_str()));
    std::string expected;
    const bool valid = Reference(text, &expected) && !expected.empty();

    const std::size_t decoded = tslUtil::BinarySize(text.c_str());
    if (decoded != (valid ? expected.size() : 0)) std::abort();
    // The output is allocated exactly, so ASan sees any write past it.
    std::vector<unsigned char> out(decoded);
    const int32_t result = tslUtil::Decode(text.c_str(), out.empty() ? nullptr : out.data());
    if (result != (valid ? 0 : -1)) std::abort();
    if (valid && std::memcmp(out.data(), expected.data(), decoded) != 0) std::abort();
    return 0;
}
