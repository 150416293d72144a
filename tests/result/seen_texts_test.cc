// The UNIQUE index: membership by exact bytes through growth.
#include "result/seen_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

namespace {

TEST(SeenTexts, ExactBytesThroughGrowth) {
    std::vector<std::string> texts;  // record number -> text
    const auto textOf = [&](uint32_t n) { return std::string_view(texts.at(n)); };
    SeenTexts seen;
    const auto add = [&](const std::string &text) {
        texts.push_back(text);
        seen.Insert(static_cast<uint32_t>(texts.size() - 1), text, textOf);
    };
    EXPECT_FALSE(seen.Contains("", textOf));
    add("");
    EXPECT_TRUE(seen.Contains("", textOf));
    add(std::string("a\0b", 3));
    EXPECT_TRUE(seen.Contains(std::string("a\0b", 3), textOf));
    EXPECT_FALSE(seen.Contains("a", textOf));
    EXPECT_FALSE(seen.Contains("A", textOf));
    EXPECT_FALSE(seen.Contains("a ", textOf));

    std::unordered_set<std::string> reference{"", std::string("a\0b", 3)};
    for (int i = 0; i < 5000; ++i) {
        const std::string text = "t" + std::to_string(i * 7919 % 3001);
        const bool known = reference.count(text) == 1;
        EXPECT_EQ(seen.Contains(text, textOf), known) << text;
        // A text asked about and then inserted, and one inserted without asking.
        add(text);
        add("u" + text);
        reference.insert(text);
        reference.insert("u" + text);
        EXPECT_TRUE(seen.Contains(text, textOf));
    }
    EXPECT_EQ(seen.size(), reference.size());
    for (int i = 0; i < 4000; ++i) {
        EXPECT_EQ(seen.Contains("t" + std::to_string(i), textOf), i < 3001) << i;
        EXPECT_EQ(seen.Contains("ut" + std::to_string(i), textOf), i < 3001) << i;
    }

    // A remembered lookup never misplaces a different text of another record.
    SeenTexts other;
    std::vector<std::string> more = {"x", "y"};
    const auto moreOf = [&](uint32_t n) { return std::string_view(more.at(n)); };
    EXPECT_FALSE(other.Contains("x", moreOf));
    other.Insert(0, "x", moreOf);
    EXPECT_FALSE(other.Contains("y", moreOf));
    other.Insert(1, "y", moreOf);
    EXPECT_TRUE(other.Contains("x", moreOf));
    EXPECT_TRUE(other.Contains("y", moreOf));
    EXPECT_EQ(other.size(), 2u);

    SeenTexts reserved;
    std::vector<std::string> numbers;
    const auto numberOf = [&](uint32_t n) { return std::string_view(numbers.at(n)); };
    reserved.Reserve(1000);
    for (int i = 0; i < 1000; ++i) {
        numbers.push_back(std::to_string(i));
        reserved.Insert(static_cast<uint32_t>(i), numbers.back(), numberOf);
    }
    numbers.push_back("5");
    reserved.Insert(1000, "5", numberOf);
    EXPECT_EQ(reserved.size(), 1000u);
    EXPECT_TRUE(reserved.Contains("999", numberOf));
    EXPECT_FALSE(reserved.Contains("1000", numberOf));
}

}  // namespace
