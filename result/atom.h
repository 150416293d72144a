// The record filter's tests of one value against one predicate: the parsed
// forms of LIKE and set atoms, number conversion and comparison by column type.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// Lets a set of texts be searched with a string_view, without a copy.
struct ViewHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
        return std::hash<std::string_view>{}(text);
    }
};

// A LIKE atom: one leading and one trailing star choose where the text must
// stand in the value; any other star is an ordinary character.
struct LikePattern {
    enum Kind { kExact, kPrefix, kSuffix, kContains };
    Kind kind = kExact;
    std::string text;
};

// A signed 32-bit range of a set atom; "1-10" is low 1, high 10.
struct SetRange {
    int32_t low = 0;
    int32_t high = 0;
};

// The parsed form of a predicate's atom, kept by the filter for the rest of
// the request. `source` and `isSet` say what it was parsed from, so a parse
// that outlived a change of the atom or operator is noticed and redone.
struct ParsedAtom {
    std::string source;
    bool isSet = false;
    // An empty atom, or a set without items, matches no value.
    bool matchesNothing = false;
    LikePattern like;
    // Single set items: the first match decides, so membership is all that counts.
    std::unordered_set<std::string, ViewHash, std::equal_to<>> singles;
    // Sorted by low end, none overlapping.
    std::vector<SetRange> ranges;
};

std::unique_ptr<ParsedAtom> ParseLikeAtom(std::string_view atom);
std::unique_ptr<ParsedAtom> ParseSetAtom(std::string_view atom);
bool LikeMatches(const ParsedAtom &parsed, std::string_view value);
bool SetMatches(const ParsedAtom &parsed, std::string_view value);

// Leading white space, an optional sign, then decimal digits up to the first
// other byte; no digits give 0. The number is kept modulo 2^64, so cutting it
// to 32 or 16 bits gives the value modulo that width for any length of digits.
uint64_t LeadingNumber(std::string_view text);

// EQUAL to GREATEQ on a column of `type`: value OPER atom. Types without a
// comparison (char16, sint8, enum, bitmask and anything unknown) always pass.
bool CompareByType(int32_t type, int32_t oper, std::string_view value, std::string_view atom);
