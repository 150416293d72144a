// Request texts built by the plug-in itself (links, queries) insert names
// unescaped, so a name holding a double quote would otherwise end its attribute
// early; the repair runs before every parse.
#include "request/quote_repair.h"

#include <string>
#include <string_view>

namespace {

// Each repaired quote grows the text by five bytes; past this many the rest of
// the text is left as it is (so a flood of quotes fails to parse instead of
// growing the text sixfold). Links carry a few.
constexpr std::size_t kMaxRepairedQuotes = 65536;

// Within each region (from an "=" to the next "=" or the tag's end), every
// double quote strictly between the first and the last one becomes &quot;,
// while `budget` lasts.
void RepairTag(std::string_view tag, std::string &out, std::size_t &budget) {
    std::size_t regionStart = tag.find('=');
    if (regionStart == std::string_view::npos) {
        out.append(tag);
        return;
    }
    out.append(tag.substr(0, regionStart));
    while (regionStart != std::string_view::npos) {
        std::size_t next = tag.find('=', regionStart + 1);
        std::string_view region =
            tag.substr(regionStart, next == std::string_view::npos ? std::string_view::npos
                                                                   : next - regionStart);
        const std::size_t open = region.find('"');
        const std::size_t close = region.rfind('"');
        if (open == std::string_view::npos || open == close) {
            out.append(region);
        } else {
            out.append(region.substr(0, open + 1));
            std::size_t from = open + 1;
            for (std::size_t quote = region.find('"', from); quote < close && budget > 0;
                 quote = region.find('"', from)) {
                --budget;
                out.append(region.substr(from, quote - from));
                out.append("&quot;");
                from = quote + 1;
            }
            out.append(region.substr(from));
        }
        regionStart = next;
    }
}

}  // namespace

std::string RepairQuotes(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    std::size_t pos = 0;
    std::size_t budget = kMaxRepairedQuotes;
    while (pos < text.size()) {
        const std::size_t lt = text.find('<', pos);
        if (lt == std::string_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, lt + 1 - pos));
        const std::size_t gt = text.find('>', lt + 1);
        if (gt == std::string_view::npos) {
            out.append(text.substr(lt + 1));
            break;
        }
        RepairTag(text.substr(lt + 1, gt - lt - 1), out, budget);
        pos = gt;  // the ">" is copied as an ordinary byte
    }
    return out;
}
