// The request side: the parser on whole requests and configurations, quote
// repair, text comparison and conversion, the name tables (scripts in
// tests/data/request), and the escaped forms of tslString byte by byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "request/tsl_string.h"
#include "support/table_helpers.h"

namespace {

TEST(RequestScripts, TranscriptsMatchTheirGoldenFiles) {
    tabletest::RunScripts("request");
}

// What one byte (not zero) becomes in each escaped form.
std::string XmlByte(char c, bool extended) {
    const std::string_view special = "&<>\"'",
                           entity[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
    const std::string_view breaks = "\t\n\r\\", letters = "tnr\\";
    if (special.find(c) != std::string_view::npos) return std::string(entity[special.find(c)]);
    if (extended && breaks.find(c) != std::string_view::npos)
        return {'\\', letters[breaks.find(c)]};
    return static_cast<unsigned char>(c) < 32 && breaks.find(c) == std::string_view::npos
               ? ""
               : std::string(1, c);
}

std::string UrlByte(char c) {
    char hex[4] = {c, 0};
    if (std::string_view(" $%&+,/:;=?@").find(c) != std::string_view::npos)
        std::snprintf(hex, sizeof hex, "%%%02X", c);
    return c == '\t' || c == '\n' || c == '\r' ? "" : hex;
}

// All three forms of `s` against the byte rules applied to `text` up to its first zero.
void ExpectForms(const tslString &s, std::string_view text) {
    std::string xml, ex, url;
    for (const char c : text.substr(0, text.find('\0'))) {
        xml += XmlByte(c, false);
        ex += XmlByte(c, true);
        url += UrlByte(c);
    }
    EXPECT_EQ(s.XmlEscaped(), xml) << tabletest::Show(text);
    EXPECT_EQ(s.XmlEscapedEx(), ex) << tabletest::Show(text);
    EXPECT_EQ(s.UrlEncoded(), url) << tabletest::Show(text);
}

TEST(Escaping, EveryByteAloneAndInTextsOfEveryLength) {
    for (int c = 1; c < 256; ++c)
        ExpectForms(std::string(1, static_cast<char>(c)), std::string(1, static_cast<char>(c)));
    std::mt19937 random(11);
    const std::string specials = "&<>\"'\\\t\n\r $%+,/:;=?@\x01\x07\x1F\x7F\xC3\xA9";
    for (const std::size_t length : {0, 1, 15, 16, 17, 31, 33, 100, 4097, 70000}) {
        for (int round = 0; round < 6; ++round) {
            std::string text(length, 'p');  // runs of plain text and runs of special bytes
            for (std::size_t i = 0; i < length; i += 16)
                for (std::size_t j = i; j < std::min(length, i + 16) && random() % 3 == 0; ++j)
                    text[j] = random() % 2 ? specials[random() % specials.size()]
                                           : static_cast<char>(random());
            if (round == 5 && length > 0) text[random() % length] = '\0';  // the text ends there
            ExpectForms(tslString(std::string_view(text)), text);
        }
    }
}

TEST(TslString, FormsFollowEveryChange) {
    tslString s("a<b");
    ExpectForms(s, "a<b");  // the forms are made now; every change below must drop them
    const tslString copy(s);
    const std::pair<void (*)(tslString &), const char *> steps[] = {
        {[](tslString &t) { t.append(" & c"); }, "a<b & c"},
        {[](tslString &t) { t = "x\ty"; }, "x\ty"},
        {[](tslString &t) { t = tslString("q=1"); }, "q=1"},
        {[](tslString &t) { t = u"<\u00FC>"; }, "<\xC3\xBC>"},
        {[](tslString &t) { t.append(u"&!", 1); }, "<\xC3\xBC>&"},
        {[](tslString &t) { t.clear(); }, ""},
        {[](tslString &t) { t += "a b"; }, "a b"},
        {[](tslString &t) { t.append(tslString("'\\")); }, "a b'\\"},
        {[](tslString &t) { t = *&t; }, "a b'\\"},
        {[](tslString &t) { t = static_cast<const char *>(nullptr); }, ""},
        {[](tslString &t) { t.append(static_cast<const char *>(nullptr)); }, ""},
    };
    for (const auto &[change, text] : steps) {
        change(s);
        ExpectForms(s, text);
        EXPECT_EQ(s.str(), text);
        EXPECT_STREQ(s.c_str(), text);
    }
    ExpectForms(copy, "a<b");
    for (const tslString &empty :
         {tslString(static_cast<const char16_t *>(nullptr)), tslString(u""), tslString()}) {
        ExpectForms(empty, "");
        EXPECT_STREQ(empty.c_str(), "");
    }
}

}  // namespace
