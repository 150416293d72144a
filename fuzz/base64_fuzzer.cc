// libFuzzer target: any text through tslUtil::BinarySize and tslUtil::Decode.
// Decode fills a buffer of exactly the size BinarySize gives, so ASan sees a
// write past it; it succeeds exactly when that size is not 0. The decoded
// bytes themselves are pinned case by case in tests/security.
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
    std::vector<unsigned char> out(tslUtil::BinarySize(text.c_str()));
    const int32_t result = tslUtil::Decode(text.c_str(), out.empty() ? nullptr : out.data());
    if (result != (out.empty() ? -1 : 0)) std::abort();
    return 0;
}
