// Whole responses, byte for byte: table, error and describe forms, bare and in
// a SOAP envelope, and with the raw-mode HTTP header.
#include <gtest/gtest.h>

#include <clocale>
#include <ctime>
#include <random>
#include <string>

#include "result/http_header.h"
#include "result_helpers.h"

namespace {

using restest::BareRequest;
using restest::EnvelopedRequest;
using restest::Parsed;
using restest::Select;

const char kNasty[] = "<XML>&<safe's>\"test\"";

// Two columns, a linked record and the record of special characters.
void FillSample(tslData &data) {
    data.SetTableInfo("Sample Age", "Mon Dec  7 10:00:00 2026\n");
    data.SetChartInfo(1, 2, 0, 0);
    data.SetError(0, nullptr, nullptr);
    data.SetFiltering(true);
    data.AddColumn("Name", TYPE_STRING);
    data.AddColumn("Age", TYPE_UINT32);
    data.AddLinkRecord("Delta", "<a href=\"x\">", "35", nullptr, nullptr);
    data.AddRecord(kNasty, "5", nullptr);
}

const std::string kSampleTable =
    "<RESPONSE_TABLE>\n"
    "  <TBL_INFO>\n"
    "    <NAME>Sample Age</NAME>\n"
    "    <DATE>Mon Dec  7 10:00:00 2026\n</DATE>\n"
    "    <x>1</x>\n"
    "    <y>2</y>\n"
    "    <xTrend>0</xTrend>\n"
    "    <yTrend>0</yTrend>\n"
    "  </TBL_INFO>\n"
    "  <COLS>\n"
    "    <COL NAME=\"Name\" TYPE=\"string\"/>\n"
    "    <COL NAME=\"Age\" TYPE=\"uint32\"/>\n"
    "  </COLS>\n"
    "  <RECS>\n"
    "    <REC>\n"
    "      <VAL LINK=\"&lt;a href=&quot;x&quot;&gt;\">Delta</VAL>\n"
    "      <VAL>35</VAL>\n"
    "    </REC>\n"
    "    <REC>\n"
    "      <VAL>&lt;XML&gt;&amp;&lt;safe&apos;s&gt;&quot;test&quot;</VAL>\n"
    "      <VAL>5</VAL>\n"
    "    </REC>\n"
    "  </RECS>\n"
    "</RESPONSE_TABLE>\n";

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const std::string kEnvelopeStart =
    "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/encoding/\"\n"
    " xmlns=\"http://korvane.example/morvium/encoding/\">\n";

TEST(TableResponse, BareAndEnvelopedBytes) {
    auto bare = Parsed(BareRequest(Select("Sample Age")));
    FillSample(*bare);
    bare->BuildResponse();
    EXPECT_EQ(std::string(bare->GetResponse()), kDeclaration + kSampleTable);
    EXPECT_TRUE(bare->m_records.empty()) << "records are consumed by the writer";
    EXPECT_EQ(bare->GetResponseBuffer(), nullptr);
    EXPECT_EQ(bare->GetResponseLength(), 0u);

    auto enveloped = Parsed(EnvelopedRequest(Select("Sample Age")));
    ASSERT_TRUE(enveloped->m_envelope);
    FillSample(*enveloped);
    enveloped->BuildResponse();
    EXPECT_EQ(std::string(enveloped->GetResponse()), kDeclaration + kEnvelopeStart +
                                                         "<soap:Body>\n" + kSampleTable +
                                                         "</soap:Body>\n</soap:Envelope>\n");
    EXPECT_TRUE(restest::ReadXml(enveloped->GetResponse()).wellFormed);

    // A second response has no records left to write.
    bare->BuildResponse();
    const std::string again = bare->GetResponse();
    EXPECT_NE(again.find("  <RECS>\n  </RECS>\n"), std::string::npos) << again;
}

TEST(TableResponse, UnfilledTableAndRawHeader) {
    auto data = Parsed(BareRequest("<admin action=\"nothing\"/>"), true);
    ASSERT_EQ(data->m_action, ACTION_NOACTION);
    const std::time_t before = std::time(nullptr);
    data->BuildResponse();
    const std::time_t after = std::time(nullptr);
    const std::string body = kDeclaration +
                             "<RESPONSE_TABLE>\n"
                             "  <TBL_INFO>\n"
                             "    <NAME></NAME>\n"
                             "    <DATE></DATE>\n"
                             "    <x>0</x>\n"
                             "    <y>0</y>\n"
                             "    <xTrend>0</xTrend>\n"
                             "    <yTrend>0</yTrend>\n"
                             "  </TBL_INFO>\n"
                             "  <COLS>\n"
                             "  </COLS>\n"
                             "  <RECS>\n"
                             "  </RECS>\n"
                             "</RESPONSE_TABLE>\n";
    const std::string response = data->GetResponse();
    bool matched = false;
    for (std::time_t t = before; t <= after && !matched; ++t)
        matched = response == HttpResponseHeader(body.size(), t) + body;
    EXPECT_TRUE(matched) << response;
    const std::string prefix = "HTTP/1.1 200 OK\r\nDate: ";
    EXPECT_EQ(response.substr(0, prefix.size()), prefix);
    EXPECT_NE(response.find("\r\nServer: Korvane\r\nConnection: close\r\n"
                            "Content-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n<?xml"),
              std::string::npos);
    EXPECT_EQ(restest::BodyOf(response), body);
}

TEST(TableResponse, HttpDateIsEnglishUtc) {
    EXPECT_EQ(HttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(HttpDate(1796660131), "Mon, 07 Dec 2026 16:15:31 GMT");
    // Another process locale must not change the names.
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char *name : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"}) {
        if (std::setlocale(LC_ALL, name) == nullptr) continue;
        EXPECT_EQ(HttpDate(1796660131), "Mon, 07 Dec 2026 16:15:31 GMT") << name;
    }
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(TableResponse, ErrorFormRawAndEscaped) {
    auto data = Parsed(BareRequest(Select("No &lt;Such&gt; &amp; Table")), true);
    ASSERT_EQ(data->m_table, std::string_view("No <Such> & Table"));
    FillSample(*data);
    data->SetError(404, "NorloTessel: Unknown Method <b>", data->m_table.c_str());
    data->SetError(404, "NorloTessel: Unknown Method <b>", "second & last");
    data->BuildResponse();
    const std::string response = data->GetResponse();
    const std::string body = kDeclaration +
                             "<RESPONSE_TABLE>\n"
                             "  <TBL_INFO>\n"
                             "    <NAME>Sample Age</NAME>\n"
                             "    <DATE>Mon Dec  7 10:00:00 2026\n</DATE>\n"
                             "    <x>1</x>\n"
                             "    <y>2</y>\n"
                             "    <xTrend>0</xTrend>\n"
                             "    <yTrend>0</yTrend>\n"
                             "  </TBL_INFO>\n"
                             "  <ERROR>\n"
                             "    <CODE>404</CODE>\n"
                             "    <DESC>NorloTessel: Unknown Method &lt;b&gt;</DESC>\n"
                             "    <TROUBLESHOOTING>No &lt;Such&gt; &amp; Table</TROUBLESHOOTING>\n"
                             "    <TROUBLESHOOTING>second &amp; last</TROUBLESHOOTING>\n"
                             "  </ERROR>\n"
                             "</RESPONSE_TABLE>\n";
    EXPECT_EQ(response.substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(restest::BodyOf(response), body);
    EXPECT_NE(response.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
              std::string::npos);

    const restest::XmlReading reading = restest::ReadXml(body);
    ASSERT_TRUE(reading.wellFormed) << reading.error;
    ASSERT_EQ(reading.All("TROUBLESHOOTING").size(), 2u);
    EXPECT_EQ(reading.All("TROUBLESHOOTING")[0]->text, "No <Such> & Table");
    EXPECT_EQ(reading.All("DESC")[0]->text, "NorloTessel: Unknown Method <b>");
    EXPECT_TRUE(reading.All("COLS").empty());
    EXPECT_TRUE(reading.All("RECS").empty());
    EXPECT_TRUE(data->m_records.empty());
}

TEST(TableResponse, SpecialCharactersReadBackAsWritten) {
    auto data = Parsed(EnvelopedRequest(Select("T")));
    data->SetTableInfo("T & <t>", "d\"ate'");
    data->SetFiltering(false);
    data->AddColumn("Na\"me<", TYPE_STRING);
    data->AddColumn("Other", TYPE_STRING);
    const std::string link = "<?xml version=\"1.0\"?><a b=\"c&amp;d\">x & y</a>\t\n";
    data->AddLinkRecord(kNasty, link.c_str(), "bell\x07 and\ttab\r\nline", nullptr, nullptr);
    data->AddRecord("", "plain", nullptr);
    data->BuildResponse();
    const std::string response = data->GetResponse();
    EXPECT_NE(response.find("      <VAL LINK=\"&lt;?xml version=&quot;1.0&quot;?&gt;&lt;a b=&quot;"
                            "c&amp;amp;d&quot;&gt;x &amp; y&lt;/a&gt;\t\n\">&lt;XML&gt;"),
              std::string::npos)
        << response;
    EXPECT_NE(response.find("      <VAL></VAL>\n"), std::string::npos) << "empty value";

    const restest::XmlReading reading = restest::ReadXml(response);
    ASSERT_TRUE(reading.wellFormed) << reading.error;
    const auto values = reading.All("VAL");
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0]->text, kNasty);
    // Attribute values are normalised by the reader: tab and line feed become blanks.
    EXPECT_EQ(values[0]->attributes.at("LINK"),
              "<?xml version=\"1.0\"?><a b=\"c&amp;d\">x & y</a>  ");
    EXPECT_EQ(values[1]->text, "bell and\ttab\nline") << "byte 7 dropped; CR LF read as LF";
    EXPECT_EQ(values[1]->attributes.count("LINK"), 0u);
    EXPECT_EQ(values[2]->text, "");
    EXPECT_EQ(values[3]->text, "plain");
    EXPECT_EQ(reading.All("NAME")[0]->text, "T & <t>");
    EXPECT_EQ(reading.All("DATE")[0]->text, "d\"ate'");
    EXPECT_EQ(reading.All("COL")[0]->attributes.at("NAME"), "Na\"me<");
}

// What a reader makes of a text written as element content or as an attribute.
std::string AsContent(const std::string &text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 32 || c == '\t' || c == '\n') out += c;
    }
    return out;
}

std::string AsAttribute(const std::string &text) {
    std::string out = AsContent(text);
    for (char &c : out)
        if (c == '\t' || c == '\n') c = ' ';
    return out;
}

TEST(TableResponse, EscapingThatKeepsTheLength) {
    // One replacement (+3 bytes) and three dropped bytes (-3): the same length.
    auto data = Parsed(BareRequest(Select("T")));
    data->AddColumn("C", TYPE_STRING);
    data->AddRecord("<\x01\x02\x03", "\x01&\x02\x03\x04\x05", nullptr);
    data->BuildResponse();
    EXPECT_NE(
        std::string(data->GetResponse()).find("    <REC>\n      <VAL>&lt;</VAL>\n    </REC>\n"),
        std::string::npos)
        << data->GetResponse();
    EXPECT_TRUE(restest::ReadXml(data->GetResponse()).wellFormed);
}

TEST(TableResponse, RandomTextsAlwaysGiveWellFormedResponses) {
    const std::string alphabet = "<>&\"'\\ \t\n]=/?;x\x01\x07\x1f\xc3\xa9";
    std::mt19937 random(7);
    const auto text = [&] {
        std::string t;
        const std::size_t n = random() % 12;
        for (std::size_t i = 0; i < n; ++i) {
            std::size_t k = random() % alphabet.size();
            if (alphabet[k] == '\xc3' || alphabet[k] == '\xa9') k = alphabet.size() - 2;
            t += alphabet[k];
            if (k == alphabet.size() - 2) t += alphabet[k + 1];  // whole UTF-8 sequence
        }
        return t;
    };
    for (int round = 0; round < 200; ++round) {
        const bool envelope = round % 2 == 0;
        const std::string inner = round % 3 == 0 ? "<admin action=\"describe\"/>" : Select("T");
        auto data = Parsed(envelope ? EnvelopedRequest(inner) : BareRequest(inner), round % 5 == 0);
        data->m_sponsorName = tslString(text());
        data->m_sponsorVersion = tslString(text());
        const std::string name = text(), date = text(), column = text(), value = text(),
                          link = text(), trouble = text();
        data->SetTableInfo(name.c_str(), date.c_str());
        data->AddColumn(column.c_str(), TYPE_STRING);
        data->AddLinkRecord(value.c_str(), link.c_str(), nullptr);
        if (round % 4 == 1) data->SetError(404, text().c_str(), trouble.c_str());
        data->SetDescription(
            tslData::BuildApplication(text().c_str(), text().c_str(), "XApp").release(), nullptr);
        data->BuildResponse();
        const std::string response =
            data->m_raw ? restest::BodyOf(data->GetResponse()) : std::string(data->GetResponse());
        const restest::XmlReading reading = restest::ReadXml(response);
        ASSERT_TRUE(reading.wellFormed) << reading.error << "\n" << response;
        if (data->m_action == ACTION_DESCRIBE) {
            EXPECT_EQ(reading.All("SPONSOR_NAME").at(0)->text,
                      AsContent(data->m_sponsorName.str()));
            continue;
        }
        EXPECT_EQ(reading.All("NAME").at(0)->text, AsContent(name));
        EXPECT_EQ(reading.All("DATE").at(0)->text, AsContent(date));
        if (round % 4 == 1) {
            EXPECT_EQ(reading.All("TROUBLESHOOTING").at(0)->text, AsContent(trouble));
            continue;
        }
        EXPECT_EQ(reading.All("COL").at(0)->attributes.at("NAME"), AsAttribute(column));
        const restest::Element &val = *reading.All("VAL").at(0);
        EXPECT_EQ(val.text, AsContent(value));
        if (!link.empty()) {
            EXPECT_EQ(val.attributes.at("LINK"), AsAttribute(link));
        } else {
            EXPECT_EQ(val.attributes.count("LINK"), 0u);
        }
    }
}

TEST(TableResponse, ColumnSelection) {
    const std::string onlyName = "<col><target name=\"Name\"/><target name=\"Missing\"/></col>";
    {
        auto data = Parsed(BareRequest(Select("T", onlyName)));
        ASSERT_EQ(data->m_outputKind, OUTPUT_COLUMNLIST);
        data->SetFiltering(true);
        data->AddColumn("name", TYPE_STRING);
        data->AddColumn("Name", TYPE_STRING);
        data->AddColumn("Age", TYPE_UINT32);
        data->AddRecord("lower", "Upper", "7", nullptr);
        data->AddRecord("short", nullptr);  // fewer values than columns
        data->BuildResponse();
        const std::string response = data->GetResponse();
        EXPECT_NE(response.find("  <COLS>\n    <COL NAME=\"Name\" TYPE=\"string\"/>\n  </COLS>\n"
                                "  <RECS>\n    <REC>\n      <VAL>Upper</VAL>\n    </REC>\n"
                                "    <REC>\n    </REC>\n  </RECS>\n"),
                  std::string::npos)
            << response;
    }
    {
        // Filtering off: the output list selects nothing.
        auto data = Parsed(BareRequest(Select("T", onlyName)));
        data->SetFiltering(false);
        data->AddColumn("name", TYPE_STRING);
        data->AddColumn("Age", TYPE_SINT16);
        data->AddRecord("a", "1", nullptr);
        data->BuildResponse();
        EXPECT_NE(std::string(data->GetResponse())
                      .find("  <COLS>\n    <COL NAME=\"name\" TYPE=\"string\"/>\n"
                            "    <COL NAME=\"Age\" TYPE=\"sint16\"/>\n  </COLS>\n  <RECS>\n"
                            "    <REC>\n      <VAL>a</VAL>\n      <VAL>1</VAL>\n    </REC>\n"),
                  std::string::npos);
    }
    {
        // A column list without names: no column is written, records are empty.
        auto data = Parsed(BareRequest(Select("T", "<col/>")));
        data->SetFiltering(true);
        data->AddColumn("Name", TYPE_STRING);
        data->AddRecord("x", nullptr);
        data->AddRecord("y", nullptr);
        data->BuildResponse();
        EXPECT_NE(std::string(data->GetResponse())
                      .find("  <COLS>\n  </COLS>\n  <RECS>\n    <REC>\n    </REC>\n"
                            "    <REC>\n    </REC>\n  </RECS>\n"),
                  std::string::npos);
    }
    {
        // Values past the last column are kept but never written.
        auto data = Parsed(BareRequest(Select("T")));
        data->SetFiltering(true);
        data->AddColumn("Only", TYPE_STRING);
        EXPECT_TRUE(data->AddRecord("one", "two", "three", nullptr));
        EXPECT_EQ(data->m_records[0]->values.size(), 3u);
        data->BuildResponse();
        EXPECT_NE(std::string(data->GetResponse())
                      .find("  <RECS>\n    <REC>\n      <VAL>one</VAL>\n    </REC>\n  </RECS>\n"),
                  std::string::npos);
    }
}

TEST(TableResponse, LargeResponseIsWrittenIntoOneReservation) {
    auto data = Parsed(EnvelopedRequest(Select("Big")), true);
    data->SetFiltering(true);
    data->AddColumn("Name", TYPE_STRING);
    data->AddColumn("Note", TYPE_STRING);
    const auto p = tslData::NewPredicate(LOGIC_NOLOGIC, "Name", OPER_EQUAL, "x");
    const std::string link = data->BuildLink("Detail", p.get(), nullptr);
    for (int i = 0; i < 3000; ++i)
        data->AddLinkRecord(std::to_string(i).c_str(), link.c_str(), "\"'<&>'\"", nullptr, nullptr);
    data->BuildResponse();
    const std::string &text = data->m_response.str();
    // Grown by doubling, the capacity would be far above the size.
    EXPECT_GE(text.capacity(), text.size());
    EXPECT_LT(text.capacity(), text.size() + text.size() / 20);
    const restest::XmlReading reading = restest::ReadXml(restest::BodyOf(text));
    ASSERT_TRUE(reading.wellFormed) << reading.error;
    const auto values = reading.All("VAL");
    ASSERT_EQ(values.size(), 6000u);
    EXPECT_EQ(values[5998]->text, "2999");
    EXPECT_EQ(values[5998]->attributes.at("LINK"), link);
    EXPECT_EQ(values[5999]->text, "\"'<&>'\"");
}

TEST(TableResponse, NoRecordsRequest) {
    auto data = Parsed(BareRequest(Select("T", "<norecords/>")));
    ASSERT_EQ(data->m_outputKind, OUTPUT_NORECORDS);
    data->SetFiltering(true);
    data->AddColumn("Name", TYPE_STRING);
    EXPECT_FALSE(data->AddRecord("a", nullptr));
    EXPECT_FALSE(data->AddLinkRecord("b", "link", nullptr));
    EXPECT_TRUE(data->m_records.empty());
    auto record = data->NewRecord();
    ASSERT_TRUE(data->SetRecordValue(*record, "Name", "c", nullptr));
    EXPECT_TRUE(data->AppendRecord(std::move(record)));
    data->BuildResponse();
    EXPECT_NE(std::string(data->GetResponse())
                  .find("  <COLS>\n    <COL NAME=\"Name\" TYPE=\"string\"/>\n  </COLS>\n"
                        "  <RECS>\n    <REC>\n      <VAL>c</VAL>\n    </REC>\n  </RECS>\n"),
              std::string::npos);
}

const std::string kDescribeBody =
    "<RESPONSE>\n"
    "  <DESCRIPTION>\n"
    "    <SPONSOR_NAME>X</SPONSOR_NAME>\n"
    "    <SPONSOR_VERSION>2.0</SPONSOR_VERSION>\n"
    "    <SPONSOR_CLASS_NAME>VKN_X_Tessel</SPONSOR_CLASS_NAME>\n"
    "    <APPLICATION_LIST>\n"
    "      <APPLICATION>\n"
    "        <APPLICATION_NAME>NorloTesselApp</APPLICATION_NAME>\n"
    "        <APPLICATION_VERSION>11.1</APPLICATION_VERSION>\n"
    "        <APPLICATION_CLASS_NAME>ClassNorloTesselApp</APPLICATION_CLASS_NAME>\n"
    "         <INSTALLATION_LOCATION/>\n"
    "         <EXECUTABLE_NAME/>\n"
    "         <APPLICATION_PORTS>\n"
    "           <PORT PROTOCOL=\"TCP\" NUMBER=\"509\"/>\n"
    "         </APPLICATION_PORTS>\n"
    "      </APPLICATION>\n"
    "      <APPLICATION>\n"
    "        <APPLICATION_NAME>Second &amp; &lt;app&gt;</APPLICATION_NAME>\n"
    "        <APPLICATION_VERSION>2</APPLICATION_VERSION>\n"
    "        <APPLICATION_CLASS_NAME>SApp</APPLICATION_CLASS_NAME>\n"
    "         <INSTALLATION_LOCATION/>\n"
    "         <EXECUTABLE_NAME/>\n"
    "         <APPLICATION_PORTS>\n"
    "           <PORT PROTOCOL=\"TCP\" NUMBER=\"509\"/>\n"
    "         </APPLICATION_PORTS>\n"
    "      </APPLICATION>\n"
    "    </APPLICATION_LIST>\n"
    "  </DESCRIPTION>\n"
    "</RESPONSE>\n";

void Describe(tslData &data) {
    ASSERT_EQ(data.m_action, ACTION_DESCRIBE);
    EXPECT_TRUE(data.SetDescription(
        tslData::BuildApplication("NorloTesselApp", "11.1", "ClassNorloTesselApp").release(),
        tslData::BuildApplication("Second & <app>", "2", "SApp").release(), nullptr));
}

TEST(DescribeResponse, BareEnvelopedAndRawBytes) {
    const std::string admin = "<admin action=\"describe\"/>";
    auto bare = Parsed(BareRequest(admin, "X"));
    Describe(*bare);
    bare->BuildResponse();
    EXPECT_EQ(std::string(bare->GetResponse()), kDeclaration + kDescribeBody);

    auto enveloped = Parsed(EnvelopedRequest(admin, "X"));
    Describe(*enveloped);
    enveloped->BuildResponse();
    const std::string envelopedText = enveloped->GetResponse();
    EXPECT_EQ(envelopedText, kDeclaration + kEnvelopeStart + "<soap:Body>" + kDescribeBody +
                                 "</soap:Body></soap:Envelope>");
    EXPECT_TRUE(restest::ReadXml(envelopedText).wellFormed);

    auto raw = Parsed(EnvelopedRequest(admin, "X"), true);
    Describe(*raw);
    raw->BuildResponse();
    const std::string rawText = raw->GetResponse();
    EXPECT_EQ(restest::BodyOf(rawText), envelopedText);
    EXPECT_NE(rawText.find("Content-Length: " + std::to_string(envelopedText.size()) + "\r\n\r\n"),
              std::string::npos);
    EXPECT_EQ(rawText.substr(0, 17), "HTTP/1.1 200 OK\r\n");
}

TEST(DescribeResponse, RequestTextsCannotInjectMarkup) {
    // The sponsor name and version come from the caller; both are escaped.
    const std::string sponsor = "&lt;/SPONSOR_NAME&gt;&lt;EVIL/&gt; &amp;amp;";
    auto data = Parsed(BareRequest("<admin action=\"describe\"/>", sponsor));
    ASSERT_EQ(data->m_sponsorName, std::string_view("</SPONSOR_NAME><EVIL/> &amp;"));
    data->m_sponsorVersion = "1<2";
    Describe(*data);
    data->BuildResponse();
    const std::string response = data->GetResponse();
    EXPECT_NE(response.find("    <SPONSOR_NAME>&lt;/SPONSOR_NAME&gt;&lt;EVIL/&gt; &amp;amp;"
                            "</SPONSOR_NAME>\n    <SPONSOR_VERSION>1&lt;2</SPONSOR_VERSION>\n"
                            "    <SPONSOR_CLASS_NAME>VKN_&lt;/SPONSOR_NAME&gt;&lt;EVIL/&gt; "
                            "&amp;amp;_Tessel</SPONSOR_CLASS_NAME>\n"),
              std::string::npos)
        << response;
    const restest::XmlReading reading = restest::ReadXml(response);
    ASSERT_TRUE(reading.wellFormed) << reading.error;
    EXPECT_TRUE(reading.All("EVIL").empty());
    EXPECT_EQ(reading.All("SPONSOR_NAME")[0]->text, "</SPONSOR_NAME><EVIL/> &amp;");
}

TEST(DescribeResponse, AppendsToTheResponseText) {
    auto data = Parsed(BareRequest("<admin action=\"describe\"/>", "X"));
    Describe(*data);
    data->m_response = "earlier;";
    data->BuildResponse();
    EXPECT_EQ(std::string(data->GetResponse()), "earlier;" + kDeclaration + kDescribeBody);
}

}  // namespace
