// The UNIQUE text set: membership by exact bytes through growth.
#include "result/seen_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

namespace {

TEST(SeenTexts, ExactBytesThroughGrowth) {
    SeenTexts seen;
    EXPECT_FALSE(seen.Contains(""));
    seen.Insert("");
    EXPECT_TRUE(seen.Contains(""));
    seen.Insert(std::string("a\0b", 3));
    EXPECT_TRUE(seen.Contains(std::string("a\0b", 3)));
    EXPECT_FALSE(seen.Contains("a"));
    EXPECT_FALSE(seen.Contains("A"));
    EXPECT_FALSE(seen.Contains("a "));

    std::unordered_set<std::string> reference{"", std::string("a\0b", 3)};
    for (int i = 0; i < 5000; ++i) {
        const std::string text = "t" + std::to_string(i * 7919 % 3001);
        EXPECT_EQ(seen.Contains(text), reference.count(text) == 1) << text;
        seen.Insert(text);
        reference.insert(text);
        EXPECT_TRUE(seen.Contains(text));
    }
    EXPECT_EQ(seen.size(), reference.size());
    for (int i = 0; i < 4000; ++i) {
        const std::string text = "t" + std::to_string(i);
        EXPECT_EQ(seen.Contains(text), i < 3001) << text;
    }

    SeenTexts reserved;
    reserved.Reserve(1000);
    for (int i = 0; i < 1000; ++i) reserved.Insert(std::to_string(i));
    reserved.Insert("5");
    EXPECT_EQ(reserved.size(), 1000u);
    EXPECT_TRUE(reserved.Contains("999"));
    EXPECT_FALSE(reserved.Contains("1000"));
}

}  // namespace
