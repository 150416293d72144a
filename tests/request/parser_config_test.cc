// The parser in configuration mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parse_helpers.h"

namespace {

using reqtest::Messages;
using reqtest::ParseConfig;

// "name=value(kind)[children]" for every entry in order.
std::string Show(const ConfigEntry &e) {
    std::string out = e.name.str() + "=" + e.value.str() + "(" + std::to_string(e.kind) + ")";
    if (!e.children.empty()) {
        out += "[";
        for (const ConfigEntry &c : e.children) out += Show(c) + ";";
        out += "]";
    }
    return out;
}

std::vector<std::string> Show(const std::vector<ConfigEntry> &entries) {
    std::vector<std::string> out;
    for (const ConfigEntry &e : entries) out.push_back(Show(e));
    return out;
}

TEST(ConfigParser, EntriesInOrderWithRawTrue) {
    auto parsed = ParseConfig(
        "<?xml version=\"1.0\"?><KorvaneConfig><Tessel>"
        "<DebugLevel>TSL_TRACE</DebugLevel><Raw>TRUE</Raw><EventTime> 30 </EventTime>"
        "<Empty/></Tessel></KorvaneConfig>",
        "NT");
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    EXPECT_EQ(Show(parsed.entries),
              (std::vector<std::string>{"DebugLevel=TSL_TRACE(0)", "Raw=TRUE(0)",
                                        "EventTime= 30 (0)", "Empty=(0)"}));
    EXPECT_TRUE(parsed.raw);
    EXPECT_EQ(
        Messages(parsed.log),
        (std::vector<std::string>{
            "XercesInt::startElement: setting [NT] configpair name [DebugLevel] ...",
            "...value TSL_TRACE", "XercesInt::startElement: setting [NT] configpair name [Raw] ...",
            "...value TRUE",
            "XercesInt::startElement: setting [NT] configpair name [EventTime] ...",
            "...value  30 ", "XercesInt::startElement: setting [NT] configpair name [Empty] ...",
            "...value "}));
    EXPECT_EQ(parsed.log.substr(0, 7), "TRACE: ");
}

TEST(ConfigParser, RawNeedsTrueIgnoringCase) {
    EXPECT_TRUE(ParseConfig("<KorvaneConfig><Tessel><raw>true</raw></Tessel></KorvaneConfig>").raw);
    EXPECT_TRUE(ParseConfig("<KorvaneConfig><Tessel><RAW>tRuE</RAW></Tessel></KorvaneConfig>").raw);
    EXPECT_FALSE(ParseConfig("<KorvaneConfig><Tessel><Raw>yes</Raw></Tessel></KorvaneConfig>").raw);
    EXPECT_FALSE(
        ParseConfig("<KorvaneConfig><Tessel><Raw> true</Raw></Tessel></KorvaneConfig>").raw);
    EXPECT_FALSE(ParseConfig("<KorvaneConfig><Tessel><Raw/></Tessel></KorvaneConfig>").raw);
    EXPECT_FALSE(
        ParseConfig("<KorvaneConfig><Tessel><Rawx>true</Rawx></Tessel></KorvaneConfig>").raw);
    // An attribute named Raw is a child entry, not the key.
    EXPECT_FALSE(
        ParseConfig("<KorvaneConfig><Tessel><X Raw=\"true\">true</X></Tessel></KorvaneConfig>")
            .raw);
}

TEST(ConfigParser, AttributesBecomeChildEntries) {
    auto parsed = ParseConfig(
        "<KorvaneConfig><Tessel><Server host=\"backup1\" port=\"7001\">primary</Server>"
        "</Tessel></KorvaneConfig>",
        "NT");
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    EXPECT_EQ(Show(parsed.entries),
              std::vector<std::string>{"Server=primary(0)[host=backup1(2);port=7001(2);]"});
    EXPECT_EQ(Messages(parsed.log),
              (std::vector<std::string>{
                  "XercesInt::startElement: setting [NT] configpair name [Server] ...",
                  "...child name host value backup1", "...child name port value 7001",
                  "...value primary"}));
    // Attributes on the wrapper elements are ignored.
    auto wrapper =
        ParseConfig("<korvaneconfig a=\"1\"><TESSEL b=\"2\"><K>v</K></TESSEL></korvaneconfig>");
    EXPECT_EQ(Show(wrapper.entries), std::vector<std::string>{"K=v(0)"});
}

TEST(ConfigParser, NestedElementsAreEachAppendedOnce) {
    auto parsed = ParseConfig(
        "<KorvaneConfig><Tessel><Outer a=\"1\">x<Inner>y</Inner>z</Outer><After>w</After>"
        "</Tessel></KorvaneConfig>");
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    // Entries are listed as their elements close; the text gathered since the
    // last start tag is the value (end tags do not empty it).
    EXPECT_EQ(Show(parsed.entries),
              (std::vector<std::string>{"Inner=y(0)", "Outer=yz(0)[a=1(2);]", "After=w(0)"}));

    std::string deep = "<KorvaneConfig><Tessel>";
    for (int i = 0; i < 200; ++i) deep += "<L" + std::to_string(i) + ">";
    for (int i = 199; i >= 0; --i) deep += "</L" + std::to_string(i) + ">";
    deep += "</Tessel></KorvaneConfig>";
    auto many = ParseConfig(deep);
    ASSERT_EQ(many.status, 0);
    ASSERT_EQ(many.entries.size(), 200u);
    EXPECT_EQ(many.entries.front().name.str(), "L199");
    EXPECT_EQ(many.entries.back().name.str(), "L0");
}

TEST(ConfigParser, BrokenConfigurationKeepsClosedEntries) {
    auto parsed = ParseConfig(
        "<KorvaneConfig><Tessel><DebugLevel>TSL_ERROR</DebugLevel><Open>v</Tessel>"
        "</KorvaneConfig>");
    EXPECT_EQ(parsed.status, 404);
    EXPECT_EQ(Show(parsed.entries), std::vector<std::string>{"DebugLevel=TSL_ERROR(0)"});
    bool fatalLogged = false;
    for (const std::string &line : Messages(parsed.log))
        fatalLogged |= line.rfind("XercesInt::fatalError: line 1 column ", 0) == 0;
    EXPECT_TRUE(fatalLogged) << parsed.log;

    // A DOCTYPE is refused in configurations as well.
    auto doctype = ParseConfig(
        "<!DOCTYPE KorvaneConfig [<!ENTITY e \"TSL_FILE\">]>"
        "<KorvaneConfig><Tessel><DebugLevel>&e;</DebugLevel></Tessel></KorvaneConfig>");
    EXPECT_EQ(doctype.status, 404);
    EXPECT_TRUE(doctype.entries.empty());

    auto garbage = ParseConfig("\x01\x02 not xml");
    EXPECT_EQ(garbage.status, 404);
    EXPECT_TRUE(garbage.entries.empty());
}

TEST(ConfigParser, Utf8ValuesArriveWhole) {
    auto parsed = ParseConfig(
        "<KorvaneConfig><Tessel><N\xC3\xA4me v=\"\xE6\x97\xA5\">Gr\xC3\xBC\xC3\x9F"
        "e \xF0\x9F\x98\x80</N\xC3\xA4me></Tessel></KorvaneConfig>");
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    EXPECT_EQ(Show(parsed.entries), std::vector<std::string>{"N\xC3\xA4me=Gr\xC3\xBC\xC3\x9F"
                                                             "e \xF0\x9F\x98\x80(0)"
                                                             "[v=\xE6\x97\xA5(2);]"});
}

}  // namespace
