// Predicate atoms: LIKE patterns, sets and typed comparisons.
#include "result/atom.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>

#include "request/enums.h"

namespace {

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int32_t AsInt32(std::string_view text) {
    return static_cast<int32_t>(LeadingNumber(text));
}

template <typename T>
int Order(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

uint64_t LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint64_t number = 0;  // unsigned: wraps instead of overflowing
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        number = number * 10 + static_cast<uint64_t>(text[i] - '0');
    return negative ? 0 - number : number;
}

std::unique_ptr<ParsedAtom> ParseLikeAtom(std::string_view atom) {
    auto parsed = std::make_unique<ParsedAtom>();
    parsed->source.assign(atom);
    parsed->matchesNothing = atom.empty();
    std::string_view rest = atom;
    LikePattern::Kind kind = LikePattern::kExact;
    if (!rest.empty() && rest.front() == '*') {
        kind = LikePattern::kSuffix;
        rest.remove_prefix(1);
    }
    // The trailing star is judged on the whole atom, so a lone "*" is both the
    // leading and the trailing star: it contains the empty text.
    if (!atom.empty() && atom.back() == '*') {
        kind = kind == LikePattern::kSuffix ? LikePattern::kContains : LikePattern::kPrefix;
        if (!rest.empty()) rest.remove_suffix(1);
    }
    parsed->like.kind = kind;
    parsed->like.text.assign(rest);
    return parsed;
}

bool LikeMatches(const ParsedAtom &parsed, std::string_view value) {
    if (parsed.matchesNothing) return false;
    const std::string_view text = parsed.like.text;
    switch (parsed.like.kind) {
        case LikePattern::kExact:
            return value == text;
        case LikePattern::kPrefix:
            return value.starts_with(text);
        case LikePattern::kSuffix:
            return value.ends_with(text);
        case LikePattern::kContains:
            return value.find(text) != std::string_view::npos;
    }
    return false;
}

std::unique_ptr<ParsedAtom> ParseSetAtom(std::string_view atom) {
    auto parsed = std::make_unique<ParsedAtom>();
    parsed->source.assign(atom);
    parsed->isSet = true;
    std::size_t start = 0;
    while (start <= atom.size()) {
        std::size_t comma = atom.find(',', start);
        if (comma == std::string_view::npos) comma = atom.size();
        const std::string_view piece = atom.substr(start, comma - start);
        if (!piece.empty()) {
            const std::size_t dash = piece.find('-');
            if (dash == std::string_view::npos) {
                parsed->singles.emplace(piece);
            } else {
                parsed->ranges.push_back(
                    {AsInt32(piece.substr(0, dash)), AsInt32(piece.substr(dash + 1))});
            }
        }
        start = comma + 1;
    }
    // Sorted and merged, a record costs one search however many ranges the
    // atom lists; an empty range (low above high) matches nothing and goes.
    std::vector<SetRange> &ranges = parsed->ranges;
    std::erase_if(ranges, [](const SetRange &r) { return r.low > r.high; });
    std::sort(ranges.begin(), ranges.end(),
              [](const SetRange &a, const SetRange &b) { return a.low < b.low; });
    std::size_t kept = 0;
    for (const SetRange &range : ranges) {
        if (kept > 0 && range.low <= ranges[kept - 1].high) {
            ranges[kept - 1].high = std::max(ranges[kept - 1].high, range.high);
        } else {
            ranges[kept++] = range;
        }
    }
    ranges.resize(kept);
    parsed->matchesNothing = parsed->singles.empty() && parsed->ranges.empty();
    return parsed;
}

bool SetMatches(const ParsedAtom &parsed, std::string_view value) {
    if (parsed.matchesNothing) return false;
    if (!parsed.singles.empty() && parsed.singles.find(value) != parsed.singles.end()) return true;
    if (parsed.ranges.empty()) return false;
    const int32_t number = AsInt32(value);
    const auto after =
        std::upper_bound(parsed.ranges.begin(), parsed.ranges.end(), number,
                         [](int32_t n, const SetRange &range) { return n < range.low; });
    return after != parsed.ranges.begin() && number <= (after - 1)->high;
}

bool CompareByType(int32_t type, int32_t oper, std::string_view value, std::string_view atom) {
    int order;
    switch (type) {
        case TYPE_BOOLEAN:
        case TYPE_STRING:
        case TYPE_UINT8:
        case TYPE_UINT64:
        case TYPE_SINT64:
        case TYPE_REAL32:
        case TYPE_REAL64:
        case TYPE_DATETIME: {
            // Unsigned bytes; a prefix sorts first.
            const int c = value.compare(atom);
            order = c < 0 ? -1 : (c > 0 ? 1 : 0);
            break;
        }
        case TYPE_UINT16:
            order = Order(static_cast<uint16_t>(LeadingNumber(value)),
                          static_cast<uint16_t>(LeadingNumber(atom)));
            break;
        case TYPE_SINT16:
            order = Order(static_cast<int16_t>(LeadingNumber(value)),
                          static_cast<int16_t>(LeadingNumber(atom)));
            break;
        case TYPE_UINT32:
        case TYPE_TIMESTAMP:
            order = Order(static_cast<uint32_t>(LeadingNumber(value)),
                          static_cast<uint32_t>(LeadingNumber(atom)));
            break;
        case TYPE_SINT32:
            order = Order(static_cast<int32_t>(LeadingNumber(value)),
                          static_cast<int32_t>(LeadingNumber(atom)));
            break;
        default:
            return true;
    }
    switch (oper) {
        case OPER_EQUAL:
            return order == 0;
        case OPER_NEQ:
            return order != 0;
        case OPER_LESS:
            return order < 0;
        case OPER_GREATER:
            return order > 0;
        case OPER_LEQ:
            return order <= 0;
        case OPER_GREATEQ:
            return order >= 0;
        default:
            return true;
    }
}
