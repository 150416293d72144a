// The request parser on whole request texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parse_helpers.h"
#include "support/test_host.h"

namespace {

using reqtest::Envelope;
using reqtest::Messages;
using reqtest::ParseText;

std::vector<std::string> Texts(const std::vector<tslString> &list) {
    std::vector<std::string> out;
    for (const tslString &s : list) out.push_back(s.str());
    return out;
}

// One predicate as "logic lparen [target] oper [atom] rparen".
std::string Show(const Predicate &p) {
    return std::to_string(p.logic) + " " + std::to_string(p.lparen) + " [" + p.target.str() + "] " +
           std::to_string(p.oper) + " [" + p.atom.str() + "] " + std::to_string(p.rparen);
}

std::vector<std::string> Show(const std::vector<Predicate> &list) {
    std::vector<std::string> out;
    for (const Predicate &p : list) out.push_back(Show(p));
    return out;
}

std::string Where(const std::string &inner) {
    return Envelope("<select><from><db name=\"T\"/></from><where>" + inner + "</where></select>");
}

TEST(RequestParser, FullSoapRequestFillsEveryField) {
    const std::string text =
        "<?xml version=\"1.0\"?>"
        "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
        "<SOAP-ENV:Body>"
        "<tesselrequest version=\"3.1\" transactionid=\"T-77\" credentials=\"Q3JlZA==\" "
        "signature=\"U2ln\" certificate=\"Y2VydA==\">"
        "<sponsor version=\"4.2\">Main Sponsor</sponsor>"
        "<portal location=\"http://portal/x?a=1\"/>"
        "<select><output><col><target name=\"User\"/><target name=\"Age\"/></col></output>"
        "<from><db name=\"Norlo Server - Users\"/></from>"
        "<where><predicat lparen=\"1\" rparen=\"0\"><target name=\"User\"/>"
        "<compare oper=\"LIKE\"><atom value=\"D*\"/></compare></predicat>"
        "<logic oper=\"OR\"/>"
        "<predicat lparen=\"0\" rparen=\"1\"><target name=\"Age\"/>"
        "<compare oper=\"GREATER\"><atom value=\"30\"/></compare></predicat>"
        "</where></select></tesselrequest></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    auto parsed = ParseText(text);
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    EXPECT_EQ(parsed.log, "");
    const tslData &d = *parsed.data;
    EXPECT_TRUE(d.m_envelope);
    EXPECT_EQ(d.m_portalVersion.str(), "3.1");
    EXPECT_EQ(d.m_transactionId.str(), "T-77");
    EXPECT_EQ(d.m_credentials.str(), "Q3JlZA==");
    EXPECT_EQ(d.m_signature.str(), "U2ln");
    EXPECT_EQ(d.m_certificate.str(), "Y2VydA==");
    EXPECT_EQ(d.m_sponsorVersion.str(), "4.2");
    EXPECT_EQ(d.m_sponsorName.str(), "Main Sponsor");
    EXPECT_EQ(d.m_portalLocation.str(), "http://portal/x?a=1");
    EXPECT_EQ(d.m_table.str(), "Norlo Server - Users");
    EXPECT_EQ(d.m_action, ACTION_SELECT);
    EXPECT_EQ(d.m_outputKind, OUTPUT_COLUMNLIST);
    EXPECT_EQ(Texts(d.m_outputTargets), (std::vector<std::string>{"User", "Age"}));
    EXPECT_EQ(Show(d.m_predicates),
              (std::vector<std::string>{"0 1 [User] 7 [D*] 0", "2 0 [Age] 4 [30] 1"}));
    EXPECT_EQ(d.GetRequest(), text);
}

TEST(RequestParser, EnvelopeNamespaces) {
    struct Case {
        const char *open;
        const char *close;
        bool flag;
        const char *logged;  // the URI in the error line, or null for none
    } cases[] = {
        {"<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">",
         "</soap:Envelope>", true, nullptr},
        {"<SOAP-ENC:Envelope xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">",
         "</SOAP-ENC:Envelope>", true, nullptr},
        {"<s:ENVELOPE xmlns:s=\"HTTP://SCHEMAS.XMLSOAP.ORG/SOAP/ENVELOPE/\">", "</s:ENVELOPE>",
         true, nullptr},
        {"<Envelope xmlns=\"Http://Schemas.XmlSoap.org/Soap/Encoding/\">", "</Envelope>", true,
         nullptr},
        {"<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\">",
         "</soap:Envelope>", false, "http://www.w3.org/2003/05/soap-envelope"},
        {"<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope\">",
         "</soap:Envelope>", false, "http://schemas.xmlsoap.org/soap/envelope"},
        {"<Envelope>", "</Envelope>", false, ""},
    };
    for (const Case &c : cases) {
        const std::string text = std::string(c.open) + "<tesselrequest version=\"9\"/>" + c.close;
        SCOPED_TRACE(text);
        auto parsed = ParseText(text);
        EXPECT_EQ(parsed.status, 0) << parsed.log;  // a foreign namespace is no parse error
        EXPECT_EQ(parsed.data->m_envelope, c.flag);
        EXPECT_EQ(parsed.data->m_portalVersion.str(), "9");
        if (c.logged == nullptr) {
            EXPECT_EQ(parsed.log, "");
        } else {
            EXPECT_EQ(Messages(parsed.log),
                      std::vector<std::string>{std::string("XercesInt: error: got envelope, but "
                                                           "uri was [") +
                                               c.logged + "]"});
            EXPECT_EQ(parsed.log.substr(0, 7), "ERROR: ");
        }
    }
    // No envelope at all: the flag stays 0 and nothing is logged.
    auto bare =
        ParseText("<tesselrequest version=\"1\"><admin action=\"describe\"/></tesselrequest>");
    EXPECT_EQ(bare.status, 0);
    EXPECT_FALSE(bare.data->m_envelope);
    EXPECT_EQ(bare.data->m_action, ACTION_DESCRIBE);
    EXPECT_EQ(bare.log, "");
}

TEST(RequestParser, ElementNamesIgnoreCaseAttributeNamesDoNot) {
    auto parsed = ParseText(
        "<TESSELREQUEST Version=\"bad\" TransactionId=\"bad\" transactionid=\"good\">"
        "<Sponsor VERSION=\"bad\">S</Sponsor><PORTAL location=\"L\"/>"
        "<SeLeCt><FROM><DB Name=\"wrong\"/><db name=\"right\"/></FROM>"
        "<WHERE><PREDICAT LParen=\"5\" lparen=\"2\"><TARGET name=\"c\"/><COMPARE oper=\"NEQ\">"
        "<ATOM value=\"v\" Value=\"w\"/></COMPARE></PREDICAT></WHERE></SeLeCt></TESSELREQUEST>");
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    const tslData &d = *parsed.data;
    EXPECT_EQ(d.m_portalVersion.str(), "");
    EXPECT_EQ(d.m_transactionId.str(), "good");
    EXPECT_EQ(d.m_sponsorVersion.str(), "");
    EXPECT_EQ(d.m_sponsorName.str(), "S");
    EXPECT_EQ(d.m_portalLocation.str(), "L");
    EXPECT_EQ(d.m_table.str(), "right");
    EXPECT_EQ(d.m_action, ACTION_SELECT);
    EXPECT_EQ(Show(d.m_predicates), std::vector<std::string>{"0 2 [c] 2 [v] 0"});
}

TEST(RequestParser, PrefixedAttributesAreNotTheNamedOnes) {
    auto parsed = ParseText(
        "<r:tesselrequest xmlns:r=\"urn:r\" r:version=\"prefixed\" transactionid=\"t\">"
        "<r:db r:name=\"prefixed\"/></r:tesselrequest>");
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    EXPECT_EQ(parsed.data->m_portalVersion.str(), "");
    EXPECT_EQ(parsed.data->m_transactionId.str(), "t");
    EXPECT_EQ(parsed.data->m_table.str(), "");
}

TEST(RequestParser, OutputSelection) {
    auto none = ParseText(Envelope("<select><from><db name=\"T\"/></from></select>"));
    EXPECT_EQ(none.data->m_outputKind, OUTPUT_NOOUTPUT);
    EXPECT_TRUE(none.data->m_outputTargets.empty());

    auto all = ParseText(Envelope(
        "<select><output><target name=\"X\"/><all/><target name=\"Y\"/></output></select>"));
    EXPECT_EQ(all.data->m_outputKind, OUTPUT_ALL);
    EXPECT_EQ(Texts(all.data->m_outputTargets), (std::vector<std::string>{"X", "Y"}));

    auto norecords = ParseText(Envelope("<select><output><NoRecords/></output></select>"));
    EXPECT_EQ(norecords.data->m_outputKind, OUTPUT_NORECORDS);

    auto emptyOutput = ParseText(Envelope("<select><output></output></select>"));
    EXPECT_EQ(emptyOutput.data->m_outputKind, OUTPUT_NOOUTPUT);

    // Inside output only all/col/target/norecords count: db, predicat and
    // select are skipped there, and a target makes an output column.
    auto inside = ParseText(
        Envelope("<select><where><predicat><output><col><target name=\"O\"/><db name=\"no\"/>"
                 "<compare oper=\"LIKE\"/><atom value=\"no\"/></col></output>"
                 "<target name=\"P\"/></predicat></where></select>"));
    ASSERT_EQ(inside.status, 0) << inside.log;
    EXPECT_EQ(inside.data->m_outputKind, OUTPUT_COLUMNLIST);
    EXPECT_EQ(Texts(inside.data->m_outputTargets), std::vector<std::string>{"O"});
    EXPECT_EQ(inside.data->m_table.str(), "");
    EXPECT_EQ(Show(inside.data->m_predicates), std::vector<std::string>{"0 0 [P] 0 [] 0"});

    // The last kind element wins.
    auto last = ParseText(Envelope("<select><output><all/><col/></output></select>"));
    EXPECT_EQ(last.data->m_outputKind, OUTPUT_COLUMNLIST);
}

TEST(RequestParser, AdminAction) {
    EXPECT_EQ(ParseText(Envelope("<admin action=\"describe\"/>")).data->m_action, ACTION_DESCRIBE);
    EXPECT_EQ(ParseText(Envelope("<admin action=\"Describe\"/>")).data->m_action, ACTION_NOACTION);
    EXPECT_EQ(ParseText(Envelope("<admin/>")).data->m_action, ACTION_NOACTION);
    EXPECT_EQ(ParseText(Envelope("<ADMIN action=\"describe\"/>")).data->m_action, ACTION_DESCRIBE);
    // The last of select and admin decides.
    EXPECT_EQ(ParseText(Envelope("<admin action=\"describe\"/><select/>")).data->m_action,
              ACTION_SELECT);
    EXPECT_EQ(ParseText(Envelope("<select/><admin action=\"x\"/>")).data->m_action,
              ACTION_NOACTION);
}

TEST(RequestParser, ParenthesisCountsAreReadLikeAtoi) {
    auto parsed = ParseText(
        Where("<predicat lparen=\"\" rparen=\"2\"><target name=\"a\"/></predicat>"
              "<predicat lparen=\"3x\" rparen=\"  7\"><target name=\"b\"/></predicat>"
              "<predicat lparen=\"-2\" rparen=\"+4\"><target name=\"c\"/></predicat>"
              "<predicat lparen=\"abc\"><target name=\"d\"/></predicat>"
              "<predicat lparen=\"\\t5\" rparen=\"0012\"><target name=\"e\"/></predicat>"));
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    EXPECT_EQ(Show(parsed.data->m_predicates),
              (std::vector<std::string>{"0 0 [a] 0 [] 2", "0 3 [b] 0 [] 7", "0 -2 [c] 0 [] 4",
                                        "0 0 [d] 0 [] 0", "0 5 [e] 0 [] 12"}));
}

TEST(RequestParser, OperatorsAndPredicateContents) {
    auto parsed = ParseText(
        Where("<predicat><target name=\"a\"/><compare oper=\"Like\"><atom value=\"1\"/></compare>"
              "</predicat>"
              "<predicat><compare oper=\"NOTINSET\"><atom value=\"x,y\"/></compare>"
              "<target name=\"b\"/></predicat>"
              "<predicat/>"
              "<predicat><compare oper=\"UNIQUE\"/><compare oper=\"bogus\"/></predicat>"
              "<predicat><atom value=\"\"/><target name=\"\"/></predicat>"));
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    EXPECT_EQ(Show(parsed.data->m_predicates),
              (std::vector<std::string>{"0 0 [a] 1 [1] 0", "0 0 [b] 10 [x,y] 0", "0 0 [] 0 [] 0",
                                        "0 0 [] 1 [] 0", "0 0 [] 0 [] 0"}));

    // compare, target and atom outside any predicat change nothing.
    auto outside =
        ParseText(Where("<target name=\"t\"/><compare oper=\"LIKE\"/><atom value=\"v\"/>"));
    ASSERT_EQ(outside.status, 0);
    EXPECT_TRUE(outside.data->m_predicates.empty());
    EXPECT_TRUE(outside.data->m_outputTargets.empty());

    // A predicat replaced by a new one before it closed never reaches the list;
    // a where inside a predicat drops the current one.
    auto replaced = ParseText(
        Where("<predicat><target name=\"lost\"/><predicat><target name=\"kept\"/></predicat>"
              "</predicat><predicat><target name=\"dropped\"/><where/></predicat>"));
    ASSERT_EQ(replaced.status, 0);
    EXPECT_EQ(Show(replaced.data->m_predicates), std::vector<std::string>{"0 0 [kept] 0 [] 0"});
}

TEST(RequestParser, LogicRules) {
    auto parsed = ParseText(
        Envelope("<select><where>"
                 "<predicat><target name=\"first\"/></predicat>"
                 "<logic oper=\"OR\"/><predicat><target name=\"or\"/></predicat>"
                 "<predicat><target name=\"still-or\"/></predicat>"
                 "<logic oper=\"or\"/><predicat><target name=\"lower-or-is-and\"/></predicat>"
                 "<logic oper=\"AND\"/><logic oper=\"OR\"/><predicat><target name=\"last-wins\"/>"
                 "</predicat>"
                 "<logic/><predicat><target name=\"missing-is-and\"/></predicat>"
                 "</where><where><predicat><target name=\"reset\"/></predicat></where></select>"));
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    EXPECT_EQ(
        Show(parsed.data->m_predicates),
        (std::vector<std::string>{"0 0 [first] 0 [] 0", "2 0 [or] 0 [] 0", "2 0 [still-or] 0 [] 0",
                                  "1 0 [lower-or-is-and] 0 [] 0", "2 0 [last-wins] 0 [] 0",
                                  "1 0 [missing-is-and] 0 [] 0", "0 0 [reset] 0 [] 0"}));
}

TEST(RequestParser, FilterElements) {
    auto parsed = ParseText(
        Where("<filter logic=\"OR\" lparens=\"2\" col=\"Age\" oper=\"GREATER\" val=\"30\" "
              "rparens=\"1x\"/>"
              "<filter col=\"Name\" oper=\"like\" val=\"A*\"/>"
              "<predicat lparen=\"1\"><target name=\"outer\"/>"
              "<FILTER logic=\"or\" col=\"inner\" oper=\"WITHINSET\" val=\"a,b\" lparens=\"\" "
              "rparens=\"3\"/></predicat>"
              "<filter lparen=\"9\" rparen=\"9\" target=\"x\" col=\"c\"/>"));
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    // Filters are listed when they open, so the inner one precedes its predicat.
    EXPECT_EQ(Show(parsed.data->m_predicates),
              (std::vector<std::string>{"2 2 [Age] 4 [30] 1", "1 0 [Name] 1 [A*] 0",
                                        "1 0 [inner] 9 [a,b] 3", "0 1 [outer] 0 [] 0",
                                        "1 0 [c] 1 [] 0"}));
}

TEST(RequestParser, BackslashEscapesInAttributeValues) {
    auto parsed =
        ParseText(Where("<predicat><target name=\"tab\\there\"/><compare oper=\"EQUAL\">"
                        "<atom value=\"a\\nb\\rc\\\\d\"/></compare></predicat>"
                        "<predicat><target name=\"end\\\"/><compare oper=\"EQUAL\">"
                        "<atom value=\"\\x\\\\n\\q\"/></compare></predicat>"
                        "<filter col=\"c\\\\\" val=\"\\\\\\\\\"/>"));
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    const auto &p = parsed.data->m_predicates;
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].target.str(), "tab\there");
    EXPECT_EQ(p[0].atom.str(), "a\nb\rc\\d");
    EXPECT_EQ(p[1].target.str(), "end\\");
    EXPECT_EQ(p[1].atom.str(), "\\x\\n\\q");
    EXPECT_EQ(p[2].target.str(), "c\\");
    EXPECT_EQ(p[2].atom.str(), "\\\\");

    // The header attributes and the table name go through the same routine;
    // XML character references arrive decoded before the escapes are applied.
    auto header = ParseText(
        "<tesselrequest version=\"v\\n1\" transactionid=\"a&amp;b&#10;c\" "
        "certificate=\"x\ny\">"
        "<db name=\"x\\ty &lt;z&gt; &quot;q&quot;\"/></tesselrequest>");
    ASSERT_EQ(header.status, 0) << header.log;
    EXPECT_EQ(header.data->m_portalVersion.str(), "v\n1");
    EXPECT_EQ(header.data->m_transactionId.str(), "a&b\nc");
    EXPECT_EQ(header.data->m_certificate.str(), "x y");  // a literal line break is normalised
    EXPECT_EQ(header.data->m_table.str(), "x\ty <z> \"q\"");
}

TEST(RequestParser, SponsorContentKeepsLineBreaksAndArrivesWhole) {
    auto parsed = ParseText(
        "<tesselrequest><sponsor version=\"7\">\n    Portal Sponsor\n  </sponsor>"
        "</tesselrequest>");
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    EXPECT_EQ(parsed.data->m_sponsorVersion.str(), "7");
    EXPECT_EQ(parsed.data->m_sponsorName.str(), "\n    Portal Sponsor\n  ");

    // Entities, CDATA and character references split the content into several
    // character calls; all of it arrives.
    auto pieces = ParseText(
        "<tesselrequest><sponsor>A &amp; B<![CDATA[ <c> ]]>&#x263A;\xC3\xA4"
        "\xE6\x97\xA5\xF0\x9F\x98\x80</sponsor></tesselrequest>");
    ASSERT_EQ(pieces.status, 0) << pieces.log;
    EXPECT_EQ(pieces.data->m_sponsorName.str(),
              "A & B <c> \xE2\x98\xBA\xC3\xA4\xE6\x97\xA5\xF0\x9F\x98\x80");

    // Content larger than the reader's buffers comes in chunks.
    std::string big;
    for (int i = 0; i < 20000; ++i) big += "\xE8\xAA\x9E" + std::to_string(i % 10);
    auto large = ParseText("<tesselrequest><sponsor>" + big + "</sponsor></tesselrequest>");
    ASSERT_EQ(large.status, 0);
    EXPECT_EQ(large.data->m_sponsorName.str(), big);

    // A child element empties the text gathered so far.
    auto child = ParseText("<tesselrequest><sponsor>lost<b/>kept</sponsor></tesselrequest>");
    EXPECT_EQ(child.data->m_sponsorName.str(), "kept");
}

TEST(RequestParser, UnknownElementsAreSkipped) {
    auto parsed = ParseText(
        Envelope("<select><junk a=\"1\"><from><db name=\"Deep\"/></from></junk><extra/></select>"));
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    EXPECT_EQ(parsed.data->m_table.str(), "Deep");
    EXPECT_EQ(parsed.log, "");
}

TEST(RequestParser, ParseErrorKeepsFieldsReadBefore) {
    auto parsed = ParseText(
        "<tesselrequest version=\"1\" transactionid=\"t\"><sponsor version=\"2\">S</sponsor>"
        "<select><from><db name=\"Tbl\"/></from><where>"
        "<predicat lparen=\"1\"><target name=\"a\"/></predicat>"
        "<predicat><target name=\"open\"/>"
        "<bad></where><db name=\"after\"/></select></tesselrequest>");
    EXPECT_EQ(parsed.status, 404);
    const tslData &d = *parsed.data;
    EXPECT_EQ(d.m_portalVersion.str(), "1");
    EXPECT_EQ(d.m_transactionId.str(), "t");
    EXPECT_EQ(d.m_sponsorName.str(), "S");
    EXPECT_EQ(d.m_table.str(), "Tbl");
    EXPECT_EQ(d.m_action, ACTION_SELECT);
    // The unclosed predicat never reaches the list.
    EXPECT_EQ(Show(d.m_predicates), std::vector<std::string>{"0 1 [a] 0 [] 0"});
    const auto lines = Messages(parsed.log);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(parsed.log.substr(0, 7), "ERROR: ");
    EXPECT_EQ(lines[0].rfind("XercesInt::fatalError: line 1 column ", 0), 0u) << lines[0];

    // In raw mode the reader's error reports are not logged.
    auto quiet = ParseText("<tesselrequest version=\"1\"><a></b></tesselrequest>", true);
    EXPECT_EQ(quiet.status, 404);
    EXPECT_EQ(quiet.data->m_portalVersion.str(), "1");
    EXPECT_EQ(quiet.log, "");
}

TEST(RequestParser, QuoteRepairBeforeParsing) {
    // Request texts built by the plug-in insert names unescaped; their inner
    // quotes are mended before the parser reads them.
    auto parsed =
        ParseText(Where("<predicat><target name=\"say \"hi\"\"/><compare oper=\"EQUAL\">"
                        "<atom value=\"a\"b\"/></compare></predicat>"));
    ASSERT_EQ(parsed.status, 0) << parsed.log;
    ASSERT_EQ(parsed.data->m_predicates.size(), 1u);
    EXPECT_EQ(parsed.data->m_predicates[0].target.str(), "say \"hi\"");
    EXPECT_EQ(parsed.data->m_predicates[0].atom.str(), "a\"b");
}

TEST(RequestParser, DeclaredEncodingsAndEmptyRequests) {
    // A Latin-1 request arrives as UTF-8 in the record.
    auto latin = ParseText(
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
        "<tesselrequest><sponsor>Gr\xFC\xDF"
        "e</sponsor><db name=\"\xE4\"/></tesselrequest>");
    ASSERT_EQ(latin.status, 0) << latin.log;
    EXPECT_EQ(latin.data->m_sponsorName.str(),
              "Gr\xC3\xBC\xC3\x9F"
              "e");
    EXPECT_EQ(latin.data->m_table.str(), "\xC3\xA4");

    for (const char *text :
         {"<?xml version=\"1.0\" encoding=\"no-such-encoding\"?><tesselrequest/>",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tesselrequest>\xC3</tesselrequest>",
          "<?xml version=\"2.0\"?><tesselrequest/>"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseText(text).status, 404);
    }

    // A null request text becomes the empty text, which does not parse.
    tslData empty("V02.000.02", "T", "D", nullptr);
    ASSERT_NE(empty.GetRequest(), nullptr);
    EXPECT_STREQ(empty.GetRequest(), "");
    testhost::StderrCapture capture;
    capture.Start();
    EXPECT_EQ(empty.ParseRequest(), 404);
    capture.Stop();
    EXPECT_EQ(empty.m_action, ACTION_NOACTION);
    EXPECT_TRUE(empty.m_predicates.empty());
}

TEST(RequestParser, ParserIsReusableAcrossManyRequests) {
    // Readers are pooled: a failed parse must not leave state for the next one.
    for (int i = 0; i < 50; ++i) {
        auto bad = ParseText("<tesselrequest version=\"x\"><oops></tesselrequest>");
        EXPECT_EQ(bad.status, 404);
        auto good = ParseText("<tesselrequest version=\"" + std::to_string(i) +
                              "\"><db name=\"n\"/></tesselrequest>");
        ASSERT_EQ(good.status, 0) << good.log;
        EXPECT_EQ(good.data->m_portalVersion.str(), std::to_string(i));
        EXPECT_EQ(good.log, "");
    }
}

}  // namespace
