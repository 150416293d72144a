// Each response is laid out by one routine that writes through a sink. A
// first run bounds the size from the texts' lengths alone. A response whose
// bound is small is written into the thread's scratch room and copied out. A
// larger one is laid out twice more: with a sink that counts exactly, then
// with one that writes into exactly the room counted, so that a large table is
// escaped straight into its final place with one allocation, and the count
// cannot fall out of step with what is written. The raw-mode header, which
// states the body's length, goes in front.
#include "result/response_writer.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "base/clock.h"
#include "base/escaping.h"
#include "request/tsl_util.h"
#include "result/http_header.h"
#include "result/request_text.h"

namespace {

constexpr std::size_t kNumberRoom = 12;  // "-2147483648"

std::string_view NumberText(int32_t number, char (&buffer)[kNumberRoom]) {
    const std::to_chars_result end = std::to_chars(buffer, buffer + kNumberRoom, number);
    return std::string_view(buffer, static_cast<std::size_t>(end.ptr - buffer));
}

// Counts the bytes a layout writes.
class SizeSink {
  public:
    void Text(std::string_view text) { m_size += text.size(); }
    void Escaped(std::string_view text) { m_size += XmlEscapedSize(text); }
    void Escaped(std::string_view text, bool escapes) {
        m_size += escapes ? XmlEscapedSize(text) : text.size();
    }
    void Number(int32_t number) {
        char buffer[kNumberRoom];
        m_size += NumberText(number, buffer).size();
    }
    void Written(RecordStore &, std::size_t) {}
    std::size_t Size() const { return m_size; }

  private:
    std::size_t m_size = 0;
};

// Writes a layout into room made for it: the size a SizeSink counted for the
// same layout, and kEscapeSlack bytes more.
class RoomSink {
  public:
    explicit RoomSink(char *at) : m_at(at) {}
    // Inlined, so that the markup pieces, whose sizes are constants, are
    // copied without a call.
    [[gnu::always_inline]] void Text(std::string_view text) {
        if (text.empty()) return;
        std::memcpy(m_at, text.data(), text.size());
        m_at += text.size();
    }
    void Escaped(std::string_view text) { m_at = WriteXmlEscaped(m_at, text); }
    void Escaped(std::string_view text, bool escapes) {
        if (escapes) {
            m_at = WriteXmlEscaped(m_at, text);
        } else {
            Text(text);
        }
    }
    void Number(int32_t number) {
        char buffer[kNumberRoom];
        Text(NumberText(number, buffer));
    }
    // The memory of written records goes back as the writing moves on.
    void Written(RecordStore &records, std::size_t record) { records.ReleaseBefore(record + 1); }
    char *At() const { return m_at; }

  private:
    char *m_at;
};

// At most how many bytes a layout writes, from the sizes alone: every byte of
// a text that escaping changes is counted as the widest replacement.
class BoundSink {
  public:
    void Text(std::string_view text) { m_size += text.size(); }
    void Escaped(std::string_view text) { m_size += text.size() * kXmlEscapeWidest; }
    void Escaped(std::string_view text, bool escapes) {
        m_size += escapes ? text.size() * kXmlEscapeWidest : text.size();
    }
    void Number(int32_t) { m_size += kNumberRoom; }
    void Written(RecordStore &, std::size_t) {}
    std::size_t Size() const { return m_size; }

  private:
    std::size_t m_size = 0;
};

// Responses whose bound fits in this are written in one pass into room the
// thread keeps across invokes, then copied out once: cheaper than sizing
// every escaped text first, and no allocation that comes and goes per invoke.
constexpr std::size_t kScratchBytes = std::size_t{256} << 10;

char *ThreadScratch() {
    thread_local std::unique_ptr<char[]> scratch;
    if (!scratch) scratch = std::make_unique_for_overwrite<char[]>(kScratchBytes + kEscapeSlack);
    return scratch.get();
}

constexpr std::string_view kXmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

template <typename Sink>
void EnvelopeLines(Sink &out) {
    out.Text("<soap:Envelope xmlns:soap=\"");
    out.Text(kSoapEncodingUri);
    out.Text("\"\n xmlns=\"");
    out.Text(kVendorEncodingUri);
    out.Text("\">\n");
}

// `open`, the text escaped, `close`.
template <typename Sink>
void Element(Sink &out, std::string_view open, const tslString &text, std::string_view close) {
    out.Text(open);
    out.Escaped(text.view());
    out.Text(close);
}

template <typename Sink>
void NumberElement(Sink &out, std::string_view open, int32_t number, std::string_view close) {
    out.Text(open);
    out.Number(number);
    out.Text(close);
}

template <typename Sink>
void LayOutTable(Sink &out, bool envelope, const ResultTable &table, RecordStore &records) {
    const TableInfo &info = table.Info();
    const ErrorBlock &error = table.Error();
    const std::vector<tslColumn> &columns = table.Columns();

    out.Text(kXmlDeclaration);
    if (envelope) {
        EnvelopeLines(out);
        out.Text("<soap:Body>\n");
    }
    out.Text("<RESPONSE_TABLE>\n  <TBL_INFO>\n");
    Element(out, "    <NAME>", info.name, "</NAME>\n");
    Element(out, "    <DATE>", info.date, "</DATE>\n");
    NumberElement(out, "    <x>", info.x, "</x>\n");
    for (const int32_t y : info.y) NumberElement(out, "    <y>", y, "</y>\n");
    NumberElement(out, "    <xTrend>", info.xTrend, "</xTrend>\n");
    for (const int32_t yTrend : info.yTrend)
        NumberElement(out, "    <yTrend>", yTrend, "</yTrend>\n");
    out.Text("  </TBL_INFO>\n");

    if (error.code != 0) {
        out.Text("  <ERROR>\n");
        NumberElement(out, "    <CODE>", error.code, "</CODE>\n");
        Element(out, "    <DESC>", error.description, "</DESC>\n");
        for (const tslString &line : error.troubleshooting)
            Element(out, "    <TROUBLESHOOTING>", line, "</TROUBLESHOOTING>\n");
        out.Text("  </ERROR>\n");
    } else {
        out.Text("  <COLS>\n");
        for (const tslColumn &column : columns) {
            if (!column.output) continue;
            Element(out, "    <COL NAME=\"", column.name, "\" TYPE=\"");
            out.Text(tslUtil::TypeName(column.type));
            out.Text("\"");
            if (!column.tooltip.empty()) Element(out, " TOOLTIP=\"", column.tooltip, "\"");
            out.Text("/>\n");
        }
        out.Text("  </COLS>\n  <RECS>\n");
        for (std::size_t at = 0; at < records.Count(); ++at) {
            const RecordView record = records.At(at);
            out.Text("    <REC>\n");
            // Values past the last column have no column to be written under.
            const std::size_t count = std::min(record.size(), columns.size());
            for (std::size_t i = 0; i < count; ++i) {
                if (!columns[i].output) continue;
                const StoredValue &value = record[i];
                if (value.linkSize == 0) {
                    out.Text("      <VAL>");
                } else {
                    out.Text("      <VAL LINK=\"");
                    out.Escaped(value.link(), value.linkEscapes);
                    out.Text("\">");
                }
                out.Escaped(value.text(), value.textEscapes);
                out.Text("</VAL>\n");
            }
            out.Text("    </REC>\n");
            out.Written(records, at);
        }
        out.Text("  </RECS>\n");
    }
    out.Text("</RESPONSE_TABLE>\n");
    if (envelope) out.Text("</soap:Body>\n</soap:Envelope>\n");
}

template <typename Sink>
void LayOutDescribe(Sink &out, bool envelope, const tslRequest &request,
                    const Description &description) {
    out.Text(kXmlDeclaration);
    if (envelope) {
        EnvelopeLines(out);
        out.Text("<soap:Body>");
    }
    out.Text("<RESPONSE>\n  <DESCRIPTION>\n");
    Element(out, "    <SPONSOR_NAME>", request.m_sponsorName, "</SPONSOR_NAME>\n");
    Element(out, "    <SPONSOR_VERSION>", request.m_sponsorVersion, "</SPONSOR_VERSION>\n");
    Element(out, "    <SPONSOR_CLASS_NAME>", description.sponsorClassName,
            "</SPONSOR_CLASS_NAME>\n");
    out.Text("    <APPLICATION_LIST>\n");
    for (const std::unique_ptr<ApplicationInfo> &application : description.applications) {
        out.Text("      <APPLICATION>\n");
        Element(out, "        <APPLICATION_NAME>", application->name, "</APPLICATION_NAME>\n");
        Element(out, "        <APPLICATION_VERSION>", application->version,
                "</APPLICATION_VERSION>\n");
        Element(out, "        <APPLICATION_CLASS_NAME>", application->className,
                "</APPLICATION_CLASS_NAME>\n");
        out.Text(
            "         <INSTALLATION_LOCATION/>\n"
            "         <EXECUTABLE_NAME/>\n"
            "         <APPLICATION_PORTS>\n"
            "           <PORT PROTOCOL=\"TCP\" NUMBER=\"509\"/>\n"
            "         </APPLICATION_PORTS>\n"
            "      </APPLICATION>\n");
    }
    out.Text("    </APPLICATION_LIST>\n  </DESCRIPTION>\n</RESPONSE>\n");
    if (envelope) out.Text("</soap:Body></soap:Envelope>");
}

}  // namespace

template <typename LayOut>
ResponseBytes ResponseWriter::Compose(std::string_view before, const LayOut &layOut) const {
    BoundSink bound;
    layOut(bound);
    if (before.size() + bound.Size() <= kScratchBytes) {
        char *const scratch = ThreadScratch();
        RoomSink room(scratch);
        room.Text(before);
        layOut(room);
        const auto bodySize = static_cast<std::size_t>(room.At() - scratch);
        const std::string header = m_raw ? HttpResponseHeader(bodySize, TslNow()) : std::string();
        ResponseBytes out = ResponseBytes::WithRoom(header.size() + bodySize);
        if (!header.empty()) std::memcpy(out.data(), header.data(), header.size());
        std::memcpy(out.data() + header.size(), scratch, bodySize);
        out.SetSize(header.size() + bodySize);
        return out;
    }

    SizeSink counted;
    layOut(counted);
    const std::size_t bodySize = before.size() + counted.Size();
    const std::string header = m_raw ? HttpResponseHeader(bodySize, TslNow()) : std::string();

    ResponseBytes out = ResponseBytes::WithRoom(header.size() + bodySize + kEscapeSlack);
    RoomSink room(out.data());
    room.Text(header);
    room.Text(before);
    layOut(room);
    // The count is exact: both passes lay out the same pieces, and
    // XmlEscapedSize and WriteXmlEscaped escape with the same tables. The
    // slack only ever held scratch bytes.
    out.SetSize(static_cast<std::size_t>(room.At() - out.data()));
    return out;
}

ResponseBytes ResponseWriter::Table(ResultTable &table) const {
    // The records are consumed, written or not: nothing is accepted after the
    // response.
    RecordStore records = table.TakeRecords();
    return Compose({}, [&](auto &sink) { LayOutTable(sink, m_envelope, table, records); });
}

ResponseBytes ResponseWriter::Describe(std::string_view before, const tslRequest &request,
                                       const Description &description) const {
    return Compose(before,
                   [&](auto &sink) { LayOutDescribe(sink, m_envelope, request, description); });
}
