#include "request/tsl_string.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TslString, NullAndEmptyGiveTheEmptyText) {
    const tslString fromNull(static_cast<const char *>(nullptr));
    const tslString fromNullUtf16(static_cast<const char16_t *>(nullptr));
    const tslString fromEmptyUtf16(u"");
    const tslString byDefault;
    for (const tslString *s : {&fromNull, &fromNullUtf16, &fromEmptyUtf16, &byDefault}) {
        ASSERT_NE(s->c_str(), nullptr);
        EXPECT_STREQ(s->c_str(), "");
        EXPECT_TRUE(s->empty());
        EXPECT_EQ(s->size(), 0u);
        EXPECT_STREQ(s->XmlEscaped(), "");
        EXPECT_STREQ(s->UrlEncoded(), "");
        EXPECT_STREQ(s->XmlEscapedEx(), "");
    }
    tslString assigned("x");
    assigned = static_cast<const char *>(nullptr);
    EXPECT_STREQ(assigned.c_str(), "");
    assigned.append(static_cast<const char *>(nullptr));
    EXPECT_TRUE(assigned.empty());
    // An empty text carries no cache buffers: one pointer beside the string.
    EXPECT_LE(sizeof(tslString), sizeof(std::string) + sizeof(void *));
}

TEST(TslString, CompareIsBytewiseUnsignedAndShorterFirst) {
    EXPECT_EQ(tslString("abc").compare("abd"), -1);
    EXPECT_EQ(tslString("abd").compare("abc"), 1);
    EXPECT_EQ(tslString("abc").compare("ab"), 1);
    EXPECT_EQ(tslString("ab").compare("abc"), -1);
    EXPECT_EQ(tslString("ABC").compare("abc"), -1);
    EXPECT_EQ(tslString("abc").compare(tslString("abc")), 0);
    EXPECT_EQ(tslString("").compare(""), 0);
    EXPECT_EQ(tslString("").compare("a"), -1);
    EXPECT_EQ(tslString("a").compare(static_cast<const char *>(nullptr)), 1);
    // Bytes of 128 and more sort after ASCII (unsigned comparison).
    EXPECT_EQ(tslString("\xC3\xA4").compare("z"), 1);
    EXPECT_EQ(tslString("z").compare("\xC3\xA4"), -1);
    // Large differences still give exactly -1 or 1.
    EXPECT_EQ(tslString("\x01").compare("\xFF"), -1);
}

TEST(TslString, Utf16BecomesUtf8NeverCutShort) {
    // Two-byte characters: 5 code units give 7 bytes.
    EXPECT_EQ(tslString(u"Grüße").str(),
              "Gr\xC3\xBC\xC3\x9F"
              "e");
    // Three-byte characters: each single code unit needs three bytes.
    EXPECT_EQ(tslString(u"日本語").str(), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");
    EXPECT_EQ(tslString(u"€").str(), "\xE2\x82\xAC");
    // A surrogate pair is one four-byte character.
    EXPECT_EQ(tslString(u"a\U0001F600b").str(),
              "a\xF0\x9F\x98\x80"
              "b");
    EXPECT_EQ(tslString(u"\U0010FFFF").str(), "\xF4\x8F\xBF\xBF");
    // Unpaired halves become U+FFFD instead of corrupt bytes.
    const char16_t loneHigh[] = {u'x', 0xD83D, u'y', 0};
    const char16_t loneLow[] = {0xDE00, 0};
    const char16_t highAtEnd[] = {u'z', 0xD83D, 0};
    EXPECT_EQ(tslString(loneHigh).str(), "x\xEF\xBF\xBDy");
    EXPECT_EQ(tslString(loneLow).str(), "\xEF\xBF\xBD");
    EXPECT_EQ(tslString(highAtEnd).str(), "z\xEF\xBF\xBD");
    // A long text of three-byte characters keeps every one of them.
    std::u16string many(5000, u'語');
    EXPECT_EQ(tslString(many.c_str()).size(), 15000u);

    // Assignment and counted append from UTF-16.
    tslString s("old");
    s = u"ä";
    EXPECT_EQ(s.str(), "\xC3\xA4");
    const char16_t chunk[] = {u'ö', u'k', u'!'};
    s.append(chunk, 2);  // the count decides, not a terminator
    EXPECT_EQ(s.str(), "\xC3\xA4\xC3\xB6k");
    const char16_t pairSplitByCount[] = {0xD83D, 0xDE00};
    tslString half;
    half.append(pairSplitByCount, 1);
    EXPECT_EQ(half.str(), "\xEF\xBF\xBD");
}

TEST(TslString, ValueSemanticsAndSelfAssignment) {
    tslString a("alpha");
    tslString b(a);
    b.append("!");
    EXPECT_EQ(a.str(), "alpha");
    EXPECT_EQ(b.str(), "alpha!");
    tslString &alias = a;
    a = alias;
    EXPECT_EQ(a.str(), "alpha");
    a = b;
    EXPECT_EQ(a.str(), "alpha!");
    tslString moved(std::move(b));
    EXPECT_EQ(moved.str(), "alpha!");
    a.clear();
    EXPECT_TRUE(a.empty());
    EXPECT_STREQ(a.c_str(), "");
    EXPECT_TRUE(tslString("x") == "x");
    EXPECT_FALSE(tslString("x") == "X");
}

TEST(TslString, DerivedFormsAreCachedUntilTheTextChanges) {
    tslString s("a<b");
    const char *first = s.XmlEscaped();
    EXPECT_STREQ(first, "a&lt;b");
    EXPECT_EQ(s.XmlEscaped(), first) << "an unchanged text is not escaped again";

    s.append(" & c");
    EXPECT_STREQ(s.XmlEscaped(), "a&lt;b &amp; c");
    EXPECT_STREQ(s.UrlEncoded(), "a<b%20%26%20c");
    EXPECT_STREQ(s.XmlEscapedEx(), "a&lt;b &amp; c");

    s = "x\ty";
    EXPECT_STREQ(s.XmlEscaped(), "x\ty");
    EXPECT_STREQ(s.XmlEscapedEx(), "x\\ty");
    EXPECT_STREQ(s.UrlEncoded(), "xy");

    s = tslString("q=1");
    EXPECT_STREQ(s.UrlEncoded(), "q%3D1");
    s = u"<ü>";
    EXPECT_STREQ(s.XmlEscaped(), "&lt;\xC3\xBC&gt;");
    s.append(u"&", 1);
    EXPECT_STREQ(s.XmlEscaped(), "&lt;\xC3\xBC&gt;&amp;");
    s.clear();
    EXPECT_STREQ(s.XmlEscaped(), "");
    EXPECT_STREQ(s.UrlEncoded(), "");
    s += "a b";
    EXPECT_STREQ(s.UrlEncoded(), "a%20b");

    // A copy has its own forms; changing the original leaves the copy's valid.
    tslString original("1&2");
    const char *escaped = original.XmlEscaped();
    tslString copy(original);
    EXPECT_STREQ(copy.XmlEscaped(), "1&amp;2");
    original = "3";
    EXPECT_STREQ(copy.XmlEscaped(), "1&amp;2");
    EXPECT_STREQ(original.XmlEscaped(), "3");
    (void)escaped;
}

TEST(TslString, XmlEscapedRules) {
    EXPECT_STREQ(tslString("<XML>&<safe's>\"test\"").XmlEscaped(),
                 "&lt;XML&gt;&amp;&lt;safe&apos;s&gt;&quot;test&quot;");
    std::string controls;
    for (int c = 1; c < 32; ++c) controls.push_back(static_cast<char>(c));
    // Only tab, line feed and carriage return survive among the control bytes.
    EXPECT_EQ(std::string(tslString(controls).XmlEscaped()), "\t\n\r");
    EXPECT_STREQ(tslString("a\x07z").XmlEscaped(), "az");
    EXPECT_STREQ(tslString("\xC3\xA4\xFF\x80\\").XmlEscaped(), "\xC3\xA4\xFF\x80\\");
    // The escaping stops at an embedded zero byte.
    EXPECT_STREQ(tslString(std::string_view("a<\0b", 4)).XmlEscaped(), "a&lt;");
    // The same wherever the zero falls: in a block of plain text, in one with
    // replacements, or past several blocks, and whatever follows it.
    for (std::size_t at : {0u, 5u, 16u, 17u, 31u, 40u, 63u}) {
        SCOPED_TRACE(at);
        std::string plain(64, 'p');
        plain[at] = '\0';
        EXPECT_EQ(std::string(tslString(std::string_view(plain)).XmlEscaped()),
                  std::string(at, 'p'));
        std::string dense;
        for (int i = 0; i < 16; ++i) dense += "<a&\"";
        std::string expected;
        for (std::size_t i = 0; i < at; ++i)
            expected += dense[i] == '<'   ? "&lt;"
                        : dense[i] == '&' ? "&amp;"
                        : dense[i] == '"' ? "&quot;"
                                          : std::string(1, dense[i]);
        dense[at] = '\0';
        EXPECT_EQ(std::string(tslString(std::string_view(dense)).XmlEscaped()), expected);
        EXPECT_EQ(XmlEscapedSize(dense), expected.size());
    }
}

TEST(TslString, XmlEscapedExRules) {
    EXPECT_STREQ(tslString("a\tb\nc\rd\\e").XmlEscapedEx(), "a\\tb\\nc\\rd\\\\e");
    EXPECT_STREQ(tslString("<'\">&").XmlEscapedEx(), "&lt;&apos;&quot;&gt;&amp;");
    EXPECT_STREQ(tslString("x\x01\x1Fy\x0B").XmlEscapedEx(), "xy");
    EXPECT_STREQ(tslString("\\\\").XmlEscapedEx(), "\\\\\\\\");
}

TEST(TslString, UrlEncodedRules) {
    EXPECT_STREQ(tslString("a b/c").UrlEncoded(), "a%20b%2Fc");
    EXPECT_STREQ(tslString(" $%&+,/:;=?@").UrlEncoded(), "%20%24%25%26%2B%2C%2F%3A%3B%3D%3F%40");
    EXPECT_STREQ(tslString("a\tb\nc\rd").UrlEncoded(), "abcd");
    EXPECT_STREQ(tslString("\"'<>#~*\xC3\xA4").UrlEncoded(), "\"'<>#~*\xC3\xA4");
    EXPECT_STREQ(tslString("%25").UrlEncoded(), "%2525");
}

}  // namespace
