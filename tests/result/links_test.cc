// Drill-down links and catalogue texts: exact texts, and links that come back
// through the request parser as the predicates they were built from.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "result_helpers.h"

namespace {

using restest::BareRequest;
using restest::EnvelopedRequest;
using restest::LogLines;
using restest::Parsed;
using restest::Select;

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>";
const std::string kEnvStart =
    "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/encoding/\" "
    "xmlns=\"http://korvane.example/morvium/encoding/\"><soap:Body>";
const std::string kEnvEnd = "</soap:Body></soap:Envelope>";

TEST(LinkText, ExactTexts) {
    const auto delta = tslData::NewPredicate(LOGIC_NOLOGIC, "Name", OPER_EQUAL, "Delta");
    EXPECT_EQ(delta->lparen, 0);
    EXPECT_EQ(delta->rparen, 0);
    const std::string single =
        "<tesselrequest version=\"2.0\"><sponsor version=\"2.0\">S</sponsor>"
        "<portal location=\"\"/><select><output><all/></output><from>"
        "<db name=\"Sample Age Detail\"/></from><where><predicat><compare oper=\"EQUAL\">"
        "<target name=\"Name\"></target><atom value=\"Delta\"></atom></compare></predicat>"
        "</where></select></tesselrequest>";
    EXPECT_EQ(tslData::BuildLinkText(false, "S", "Sample Age Detail", delta.get(), nullptr),
              kDecl + single);
    EXPECT_EQ(tslData::BuildLinkText(true, "S", "Sample Age Detail", delta.get(), nullptr),
              kDecl + kEnvStart + single + kEnvEnd);
    const Predicate *list[] = {delta.get(), nullptr};
    EXPECT_EQ(tslData::BuildRequestText(false, "S", "Sample Age Detail", list), kDecl + single);

    // The grouped sample link; the first predicate's logic is never written.
    const auto p1 = tslData::NewPredicate(LOGIC_AND, 1, "Name", OPER_LIKE, "D*", 1);
    const auto p2 = tslData::NewPredicate(LOGIC_AND, 1, "Age", OPER_GREATER, "10", 0);
    const auto p3 = tslData::NewPredicate(LOGIC_OR, 0, "Age", OPER_LESS, "100", 1);
    EXPECT_EQ(tslData::BuildLinkText(false, "S", "T", p1.get(), p2.get(), p3.get(), nullptr),
              kDecl +
                  "<tesselrequest version=\"2.0\"><sponsor version=\"2.0\">S</sponsor>"
                  "<portal location=\"\"/><select><output><all/></output><from>"
                  "<db name=\"T\"/></from><where>"
                  "<predicat lparen=\"1\" rparen=\"1\"><compare oper=\"LIKE\">"
                  "<target name=\"Name\"></target><atom value=\"D*\"></atom></compare></predicat>"
                  "<logic oper=\"AND\"/><predicat lparen=\"1\"><compare oper=\"GREATER\">"
                  "<target name=\"Age\"></target><atom value=\"10\"></atom></compare></predicat>"
                  "<logic oper=\"OR\"/><predicat rparen=\"1\"><compare oper=\"LESS\">"
                  "<target name=\"Age\"></target><atom value=\"100\"></atom></compare></predicat>"
                  "</where></select></tesselrequest>");

    // No predicates: an empty where-clause; never a transaction id or credentials.
    const std::string none = tslData::BuildLinkText(false, "S", "T", nullptr);
    EXPECT_NE(none.find("<where></where>"), std::string::npos);
    EXPECT_EQ(none.find("transactionid"), std::string::npos);
    EXPECT_EQ(none.find("credentials"), std::string::npos);
    EXPECT_EQ(none.find("signature"), std::string::npos);
}

TEST(LinkText, BuildLinkFollowsTheCurrentRequest) {
    auto bare = Parsed(BareRequest(Select("Sample Age"), "Norlo Sponsor"));
    const auto p = tslData::NewPredicate(LOGIC_NOLOGIC, "Name", OPER_EQUAL, "QRT");
    EXPECT_EQ(
        bare->BuildLink("Sample Age Detail", p.get(), nullptr),
        tslData::BuildLinkText(false, "Norlo Sponsor", "Sample Age Detail", p.get(), nullptr));
    auto enveloped = Parsed(EnvelopedRequest(Select("Sample Age"), "Norlo Sponsor"));
    EXPECT_EQ(enveloped->BuildLink("Sample Age Detail", p.get(), nullptr),
              tslData::BuildLinkText(true, "Norlo Sponsor", "Sample Age Detail", p.get(), nullptr));
}

TEST(LinkText, InsertedTextsStayParsable) {
    const auto p =
        tslData::NewPredicate(LOGIC_NOLOGIC, "A&B<C>", OPER_EQUAL, "C:\\new\ttab \"q\"=x>y");
    const std::string link =
        tslData::BuildLinkText(false, "Tom & <Jerry>", "T&T", p.get(), nullptr);
    EXPECT_EQ(link, kDecl +
                        "<tesselrequest version=\"2.0\"><sponsor version=\"2.0\">Tom &amp; "
                        "&lt;Jerry></sponsor><portal location=\"\"/><select><output><all/></output>"
                        "<from><db name=\"T&amp;T\"/></from><where><predicat>"
                        "<compare oper=\"EQUAL\"><target name=\"A&amp;B&lt;C>\"></target>"
                        "<atom value=\"C:\\\\new\\ttab \"q\"&#61;x&gt;y\"></atom></compare>"
                        "</predicat></where></select></tesselrequest>");
}

struct Expected {
    int32_t logic;
    int32_t lparen;
    std::string target;
    int32_t oper;
    std::string atom;
    int32_t rparen;
};

void ExpectPredicates(const std::vector<Predicate> &got, const std::vector<Expected> &expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].logic, expected[i].logic) << i;
        EXPECT_EQ(got[i].lparen, expected[i].lparen) << i;
        EXPECT_EQ(got[i].target.str(), expected[i].target) << i;
        EXPECT_EQ(got[i].oper, expected[i].oper) << i;
        EXPECT_EQ(got[i].atom.str(), expected[i].atom) << i;
        EXPECT_EQ(got[i].rparen, expected[i].rparen) << i;
    }
}

TEST(LinkText, RoundTripThroughTheParser) {
    const std::vector<Expected> expected = {
        {LOGIC_NOLOGIC, 2, "say \"hi\"", OPER_EQUAL, "Tom & Jerry <3", 0},
        {LOGIC_AND, 0, "a=\"b\"", OPER_LIKE, "x>\"y\"=z*", 1},
        {LOGIC_OR, 0, "C:\\new\\table", OPER_WITHINSET, "1-10,\"q\",\t\n", 0},
        {LOGIC_AND, 1, "plain", OPER_UNIQUE, "", 2},
        {LOGIC_AND, 0, "\"", OPER_NOTLIKE, "\"\"\"", 0},
    };
    std::vector<std::unique_ptr<Predicate>> made;
    for (const Expected &e : expected)
        made.push_back(tslData::NewPredicate(e.logic, e.lparen, e.target.c_str(), e.oper,
                                             e.atom.c_str(), e.rparen));
    const Predicate *list[] = {made[0].get(), made[1].get(), made[2].get(),
                               made[3].get(), made[4].get(), nullptr};
    const std::string sponsor = "Spon\"sor & <co>";
    const std::string table = "Norlo \"Server\" & <Users>";
    for (const bool envelope : {false, true}) {
        const std::string link =
            tslData::BuildRequestText(envelope, sponsor.c_str(), table.c_str(), list);
        auto back = Parsed(link);
        EXPECT_EQ(back->m_envelope, envelope);
        EXPECT_EQ(back->m_sponsorName.str(), sponsor);
        EXPECT_EQ(back->m_table.str(), table);
        EXPECT_EQ(back->m_action, ACTION_SELECT);
        EXPECT_EQ(back->m_outputKind, OUTPUT_ALL);
        EXPECT_TRUE(back->m_transactionId.empty());
        ExpectPredicates(back->m_predicates, expected);
    }
}

TEST(LinkText, LinkSentBackSelectsItsRow) {
    // A method links each name to its detail; the portal reads the LINK
    // attribute and sends it back; the detail table keeps exactly that row.
    const char *names[] = {"Tom & Jerry", "<Jerry>", "say \"hi\"", "a=\"b\">c", "C:\\new"};
    auto listing = Parsed(EnvelopedRequest(Select("Listing")));
    listing->SetFiltering(true);
    listing->AddColumn("Name", TYPE_STRING);
    for (const char *name : names) {
        const auto p = tslData::NewPredicate(LOGIC_NOLOGIC, "Name", OPER_EQUAL, name);
        const std::string link = listing->BuildLink("Detail", p.get(), nullptr);
        EXPECT_TRUE(listing->AddLinkRecord(name, link.c_str(), nullptr));
    }
    listing->BuildResponse();
    const restest::XmlReading response = restest::ReadXml(listing->GetResponse());
    ASSERT_TRUE(response.wellFormed) << response.error;
    const auto values = response.All("VAL");
    ASSERT_EQ(values.size(), std::size(names));
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i]->text, names[i]);
        auto detail = Parsed(values[i]->attributes.at("LINK"));
        EXPECT_TRUE(detail->m_envelope);
        EXPECT_EQ(detail->m_table.str(), "Detail");
        detail->SetFiltering(true);
        detail->AddColumn("Name", TYPE_STRING);
        std::vector<std::string> kept;
        for (const char *name : names)
            if (detail->AddRecord(name, nullptr)) kept.emplace_back(name);
        EXPECT_EQ(kept, std::vector<std::string>{names[i]});
    }
}

// ---- catalogue -----------------------------------------------------------------

TEST(Catalogue, MethodTemplates) {
    auto data = Parsed(BareRequest(Select("Define"), "Norlo Sponsor"));
    const char *required[] = {"XML=NLXUsers.xml", "B&B", nullptr};
    const std::optional<std::string> entry = data->BuildAnyMethodTemplate(
        METHOD_TESSELDISPLAY, "Norlo Server - Users", "11.1", true, "NorloTessel: Norlo Sponsor",
        "Monitor:Backup:Norlo:&host", required);
    ASSERT_TRUE(entry);
    EXPECT_EQ(*entry,
              "<Application>\n"
              "  <ZornClass>VKN_Norlo Sponsor_Tessel</ZornClass>\n"
              "  <MethodName version=\"11.1\">Norlo Server - Users</MethodName>\n"
              "  <Content_Type>portal/dynamic-content</Content_Type>\n"
              "  <Methods aggregatesupport=\"YES\">\n"
              "    <Link>TesselDisplay    </Link>\n"
              "    <Required_Fields>XML=NLXUsers.xml</Required_Fields>\n"
              "    <Required_Fields>B&amp;B</Required_Fields>\n"
              "  </Methods>\n"
              "  <Locale>en_US</Locale>\n"
              "  <Description>NorloTessel: Norlo Sponsor</Description>\n"
              "  <Folder_Path>Monitor:Backup:Norlo:&amp;host</Folder_Path>\n"
              "</Application>\n");

    // Variadic form, no aggregate support, no required fields.
    const std::optional<std::string> bare =
        data->BuildAnyMethodTemplateV(METHOD_TELNET, "M & N", "1<2", false, "d", "f", nullptr);
    ASSERT_TRUE(bare);
    EXPECT_EQ(*bare,
              "<Application>\n"
              "  <ZornClass>VKN_Norlo Sponsor_Tessel</ZornClass>\n"
              "  <MethodName version=\"1&lt;2\">M &amp; N</MethodName>\n"
              "  <Content_Type>portal/dynamic-content</Content_Type>\n"
              "  <Methods aggregatesupport=\"NO\">\n"
              "    <Link>com.vkn.portal.smp.component.Telnet    </Link>\n"
              "  </Methods>\n"
              "  <Locale>en_US</Locale>\n"
              "  <Description>d</Description>\n"
              "  <Folder_Path>f</Folder_Path>\n"
              "</Application>\n");
    EXPECT_EQ(
        data->BuildAnyMethodTemplate("TesselDisplay", "M & N", "1<2", false, "d", "f", nullptr)
            ->substr(0),
        data->BuildAnyMethodTemplateV(METHOD_TESSELDISPLAY2, "M & N", "1<2", false, "d", "f",
                                      nullptr)
            .value());
    const char *one[] = {"X", nullptr};
    EXPECT_EQ(data->BuildAnyMethodTemplateV(1, "m", "v", true, "d", "f", "X", nullptr),
              data->BuildAnyMethodTemplate(1, "m", "v", true, "d", "f", one));

    // Bad parameters: null, and a level-1 message each time.
    std::vector<bool> refused;
    const std::vector<std::string> log = LogLines([&] {
        refused.push_back(!data->BuildAnyMethodTemplate(1, nullptr, "v", true, "d", "f", nullptr));
        refused.push_back(!data->BuildAnyMethodTemplate(1, "m", nullptr, true, "d", "f", nullptr));
        refused.push_back(!data->BuildAnyMethodTemplate(1, "m", "v", true, nullptr, "f", nullptr));
        refused.push_back(!data->BuildAnyMethodTemplate(1, "m", "v", true, "d", nullptr, nullptr));
        refused.push_back(!data->BuildAnyMethodTemplate(static_cast<const char *>(nullptr), "m",
                                                        "v", true, "d", "f", nullptr));
    });
    EXPECT_EQ(refused, std::vector<bool>(5, true));
    EXPECT_EQ(log, std::vector<std::string>(5, "tslData::BuildAnyMethodTemplate: bad parameters"));
}

TEST(Catalogue, SponsorNameCannotInjectMarkup) {
    auto data = Parsed(BareRequest(Select("Define"), "&lt;/ZornClass&gt;&amp;"));
    const auto entry = data->BuildAnyMethodTemplate(1, "m", "\"/><x", true, "d", "f", nullptr);
    ASSERT_TRUE(entry);
    EXPECT_NE(entry->find("  <ZornClass>VKN_&lt;/ZornClass&gt;&amp;_Tessel</ZornClass>\n"
                          "  <MethodName version=\"&quot;/&gt;&lt;x\">m</MethodName>\n"),
              std::string::npos)
        << *entry;
    EXPECT_TRUE(restest::ReadXml(*entry).wellFormed);
}

TEST(Catalogue, Queries) {
    const std::string header =
        "<tesselrequest version=\"1.0\"><sponsor version=\"2.0\">Sponsor</sponsor>"
        "<portal location=\"here\"/>";
    auto bare = Parsed(BareRequest(Select("Define")));
    EXPECT_EQ(bare->BuildQuery(ACTION_SELECT, "Norlo Server - Users", nullptr),
              header +
                  "<select><output><all/></output><from><db name=\"Norlo Server - Users\"/>"
                  "</from><where></where></select></tesselrequest>");
    EXPECT_EQ(bare->BuildQuery(ACTION_DESCRIBE, "ignored", nullptr), header + "</tesselrequest>");

    auto enveloped = Parsed(EnvelopedRequest(Select("Define")));
    const auto p = tslData::NewPredicate(LOGIC_NOLOGIC, "User", OPER_LIKE, "D*");
    const auto q = tslData::NewPredicate(LOGIC_OR, 0, "User", OPER_EQUAL, "A&B", 0);
    const std::string query =
        enveloped->BuildQuery(ACTION_SELECT, "Norlo Server - Users", p.get(), q.get(), nullptr);
    EXPECT_EQ(query, kEnvStart + header +
                         "<select><output><all/></output><from><db name=\"Norlo Server - Users\"/>"
                         "</from><where><predicat><compare oper=\"LIKE\"><target name=\"User\">"
                         "</target><atom value=\"D*\"></atom></compare></predicat>"
                         "<logic oper=\"OR\"/><predicat><compare oper=\"EQUAL\">"
                         "<target name=\"User\"></target><atom value=\"A&amp;B\"></atom>"
                         "</compare></predicat></where></select></tesselrequest>" +
                         kEnvEnd);
    auto back = Parsed(query);
    EXPECT_TRUE(back->m_envelope);
    EXPECT_EQ(back->m_table.str(), "Norlo Server - Users");
    ExpectPredicates(back->m_predicates, {{LOGIC_NOLOGIC, 0, "User", OPER_LIKE, "D*", 0},
                                          {LOGIC_OR, 0, "User", OPER_EQUAL, "A&B", 0}});

    // Texts taken from the current request go back escaped.
    auto odd = Parsed(
        "<tesselrequest version=\"1&amp;2\"><sponsor version=\"&lt;v&gt;\">S &amp; S</sponsor>"
        "<portal location=\"a\\\\b &amp; &quot;c&quot;\"/><select/></tesselrequest>");
    const std::string again = odd->BuildQuery(ACTION_SELECT, "T", nullptr);
    auto reparsed = Parsed(again);
    EXPECT_EQ(reparsed->m_portalVersion.str(), "1&2");
    EXPECT_EQ(reparsed->m_sponsorVersion.str(), "<v>");
    EXPECT_EQ(reparsed->m_sponsorName.str(), "S & S");
    EXPECT_EQ(reparsed->m_portalLocation.str(), "a\\b & \"c\"");
}

TEST(Catalogue, ApplicationsAndDescription) {
    std::vector<bool> refused;
    const std::vector<std::string> log = LogLines([&] {
        refused.push_back(!tslData::BuildApplication(nullptr, "v", "XApp"));
        refused.push_back(!tslData::BuildApplication("n", nullptr, "XApp"));
        refused.push_back(!tslData::BuildApplication("n", "v", nullptr));
        refused.push_back(!tslData::BuildApplication("n", "v", "App"));
        refused.push_back(!tslData::BuildApplication("n", "v", "Xapp"));
        refused.push_back(!tslData::BuildApplication("n", "v", "XAppX"));
    });
    EXPECT_EQ(refused, std::vector<bool>(6, true));
    EXPECT_EQ(log, (std::vector<std::string>{
                       "tslData::BuildApplication: bad parameters",
                       "tslData::BuildApplication: bad parameters",
                       "tslData::BuildApplication: bad parameters",
                       "tslData::BuildApplication: classname must end with \"App\"",
                       "tslData::BuildApplication: classname must end with \"App\"",
                       "tslData::BuildApplication: classname must end with \"App\""}));
    const auto accepted = tslData::BuildApplication("n", "v", "XApp");
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->className, std::string_view("XApp"));

    auto data = Parsed(BareRequest("<admin action=\"describe\"/>", "X"));
    const std::vector<std::string> bad =
        LogLines([&] { EXPECT_FALSE(data->SetDescription(nullptr)); });
    EXPECT_EQ(bad, std::vector<std::string>{"tslData::SetDescription: bad parameters"});
    EXPECT_TRUE(data->m_sponsorClassName.empty());
    EXPECT_TRUE(data->SetDescription(tslData::BuildApplication("a", "1", "AApp").release(),
                                     tslData::BuildApplication("b", "2", "BApp").release(),
                                     nullptr));
    EXPECT_EQ(data->m_sponsorClassName, std::string_view("VKN_X_Tessel"));
    data->m_sponsorName = "Y";
    EXPECT_TRUE(
        data->SetDescription(tslData::BuildApplication("c", "3", "CApp").release(), nullptr));
    EXPECT_EQ(data->m_sponsorClassName, std::string_view("VKN_Y_Tessel"));
    ASSERT_EQ(data->m_applications.size(), 3u);
    EXPECT_EQ(data->m_applications[0]->name, std::string_view("a"));
    EXPECT_EQ(data->m_applications[2]->name, std::string_view("c"));
}

}  // namespace
