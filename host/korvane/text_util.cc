#include "text_util.h"

#include <string.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <utility>

namespace korvane {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendEntity(std::string &out, char c) {
    switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
            break;
    }
}

std::string DecodeEntities(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        static constexpr std::pair<std::string_view, char> kEntities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        bool matched = false;
        for (const auto &[entity, c] : kEntities) {
            if (text.substr(i, entity.size()) == entity) {
                out += c;
                i += entity.size() - 1;
                matched = true;
                break;
            }
        }
        if (!matched) out += '&';
    }
    return out;
}

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == ':';
}

}  // namespace

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) AppendEntity(out, c);
    return out;
}

std::string RequestAttribute(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else
            AppendEntity(out, c);
    }
    return out;
}

std::string UrlDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at = text.find('%'); at != std::string_view::npos;
         at = text.find('%', at + 1)) {
        if (at + 2 >= text.size()) break;
        const int high = HexValue(text[at + 1]);
        const int low = HexValue(text[at + 2]);
        if (high < 0 || low < 0) continue;
        out.append(text.substr(from, at - from));
        out += static_cast<char>(high * 16 + low);
        from = at + 3;
        at += 2;
    }
    out.append(text.substr(from));
    return out;
}

std::string PeekTableName(std::string_view request) {
    for (std::size_t at = request.find('<'); at != std::string_view::npos;
         at = request.find('<', at + 1)) {
        // The element name, with an optional namespace prefix.
        std::size_t end = at + 1;
        while (end < request.size() && IsNameChar(request[end])) ++end;
        std::string_view name = request.substr(at + 1, end - at - 1);
        if (const auto colon = name.rfind(':'); colon != std::string_view::npos)
            name.remove_prefix(colon + 1);
        if (!AsciiIEquals(name, "db")) continue;
        const std::size_t close = request.find('>', end);
        const std::string_view tag = request.substr(
            end, close == std::string_view::npos ? std::string_view::npos : close - end);
        for (std::size_t k = tag.find("name"); k != std::string_view::npos;
             k = tag.find("name", k + 1)) {
            if (k > 0 && IsNameChar(tag[k - 1])) continue;
            std::size_t p = k + 4;
            while (p < tag.size() &&
                   (tag[p] == ' ' || tag[p] == '\t' || tag[p] == '\n' || tag[p] == '\r'))
                ++p;
            if (p >= tag.size() || tag[p] != '=') continue;
            ++p;
            while (p < tag.size() &&
                   (tag[p] == ' ' || tag[p] == '\t' || tag[p] == '\n' || tag[p] == '\r'))
                ++p;
            if (p >= tag.size() || (tag[p] != '"' && tag[p] != '\'')) return "";
            const std::size_t valueEnd = tag.find(tag[p], p + 1);
            if (valueEnd == std::string_view::npos) return "";
            return DecodeEntities(tag.substr(p + 1, valueEnd - p - 1));
        }
        return "";
    }
    return "";
}

std::size_t FindText(std::string_view text, std::string_view what, std::size_t from) {
    if (from > text.size()) return std::string_view::npos;
    if (what.empty()) return from;
    const void *found = memmem(text.data() + from, text.size() - from, what.data(), what.size());
    return found == nullptr
               ? std::string_view::npos
               : static_cast<std::size_t>(static_cast<const char *>(found) - text.data());
}

std::string AnsweredTableName(std::string_view response) {
    const std::size_t info = FindText(response, "<TBL_INFO>");
    if (info == std::string_view::npos) return "";
    const std::size_t start = FindText(response, "<NAME>", info);
    if (start == std::string_view::npos) return "";
    const std::size_t end = FindText(response, "</NAME>", start);
    if (end == std::string_view::npos) return "";
    return DecodeEntities(response.substr(start + 6, end - start - 6));
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool AsciiIEquals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

std::string_view Trim(std::string_view text) {
    const char *blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool ReadFileText(const std::string &path, std::string &text, std::string &error) {
    if (path == "-") {
        std::ostringstream buffer;
        buffer << std::cin.rdbuf();
        text = buffer.str();
        return true;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

}  // namespace korvane
