#include "event_scan.h"

#include <string>

#include "text_util.h"

namespace korvane {

namespace {

// Decodes the five predefined entities; false for any other "&" and for
// characters that cannot stand in an attribute value.
bool DecodeAttribute(std::string_view raw, std::string &out) {
    out.clear();
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '<') return false;
        if (c != '&') {
            out += c;
            continue;
        }
        static constexpr std::pair<std::string_view, char> kEntities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        bool matched = false;
        for (const auto &[entity, decoded] : kEntities) {
            if (raw.substr(i, entity.size()) == entity) {
                out += decoded;
                i += entity.size() - 1;
                matched = true;
                break;
            }
        }
        if (!matched) return false;
    }
    return true;
}

// Expects `literal` at `at`, then an attribute value up to the next double
// quote, then `after`; moves `at` past all of it.
bool Expect(std::string_view text, std::size_t &at, std::string_view literal, std::string *value,
            std::string_view after) {
    if (text.substr(at, literal.size()) != literal) return false;
    at += literal.size();
    if (value != nullptr) {
        const std::size_t quote = text.find('"', at);
        if (quote == std::string_view::npos) return false;
        if (!DecodeAttribute(text.substr(at, quote - at), *value)) return false;
        at = quote;
    }
    if (text.substr(at, after.size()) != after) return false;
    at += after.size();
    return true;
}

// A "<!" anywhere (DOCTYPE, CDATA, comment): looked for by its rare "!".
bool HasDeclaration(std::string_view text) {
    for (std::size_t at = text.find('!'); at != std::string_view::npos; at = text.find('!', at + 1))
        if (at > 0 && text[at - 1] == '<') return true;
    return false;
}

std::size_t Count(std::string_view text, std::string_view what) {
    std::size_t count = 0;
    for (std::size_t at = FindText(text, what); at != std::string_view::npos;
         at = FindText(text, what, at + 1))
        ++count;
    return count;
}

}  // namespace

bool ScanEventText(std::string_view text, RequestSummary &event) {
    event.table.clear();
    event.fields.clear();
    if (text.substr(0, 5) != "<?xml" || HasDeclaration(text)) return false;
    const std::string_view tail = "</where></select></tesselrequest>";
    if (text.size() < tail.size() || text.substr(text.size() - tail.size()) != tail) return false;

    std::size_t at = FindText(text, "<from>");
    if (at == std::string_view::npos || Count(text, "<db ") != 1) return false;
    if (!Expect(text, at, "<from><db name=\"", &event.table, "\"/></from><where>")) return false;

    const std::size_t end = text.size() - tail.size();
    std::string oper;
    std::string name;
    std::string value;
    while (at < end) {
        if (!event.fields.empty() && !Expect(text, at, "<logic oper=\"AND\"/>", nullptr, ""))
            return false;
        if (!Expect(text, at, "<predicat><compare oper=\"", &oper, "\">") || oper != "EQUAL")
            return false;
        if (!Expect(text, at, "<target name=\"", &name, "\"></target>")) return false;
        if (!Expect(text, at, "<atom value=\"", &value, "\"></atom></compare></predicat>"))
            return false;
        event.fields.emplace_back(name, value);
    }
    return at == end;
}

}  // namespace korvane
