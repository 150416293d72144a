// libFuzzer target: any text through RepairQuotes, checked against a literal
// byte-by-byte repair (tags from "<" to the next ">", regions from each "=",
// inner quotes of a region become &quot; while the 65,536 allowed last), and
// for being settled: a repaired text that used less than the allowance comes
// back unchanged from a second repair.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "request/quote_repair.h"

namespace {

constexpr std::size_t kAllowance = 65536;

// The quotes of one region, by position: only those strictly between the
// first and the last are replaced.
void RepairRegion(std::string_view region, std::string &out, std::size_t &left) {
    std::size_t first = std::string_view::npos, last = std::string_view::npos;
    for (std::size_t i = 0; i < region.size(); ++i) {
        if (region[i] != '"') continue;
        if (first == std::string_view::npos) first = i;
        last = i;
    }
    for (std::size_t i = 0; i < region.size(); ++i) {
        if (region[i] == '"' && i > first && i < last && left > 0) {
            --left;
            out += "&quot;";
        } else {
            out += region[i];
        }
    }
}

std::string Literal(std::string_view text, std::size_t &left) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i++];
        out += c;
        if (c != '<') continue;
        std::size_t gt = i;
        while (gt < text.size() && text[gt] != '>') ++gt;
        if (gt == text.size()) {
            out.append(text.substr(i));
            break;
        }
        const std::string_view tag = text.substr(i, gt - i);
        std::size_t region = 0;
        while (region < tag.size() && tag[region] != '=') ++region;
        out.append(tag.substr(0, region));
        while (region < tag.size()) {
            std::size_t next = region + 1;
            while (next < tag.size() && tag[next] != '=') ++next;
            RepairRegion(tag.substr(region, next - region), out, left);
            region = next;
        }
        i = gt;  // the ">" is copied as an ordinary byte
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::string repaired = RepairQuotes(text);
    std::size_t left = kAllowance;
    if (repaired != Literal(text, left)) {
        std::fprintf(stderr, "quote repair differs from the literal repair\n");
        std::abort();
    }
    if (left > 0 && RepairQuotes(repaired) != repaired) {
        std::fprintf(stderr, "a repaired text changed on its second repair\n");
        std::abort();
    }
    return 0;
}
