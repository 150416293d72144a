#include "table_printer.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <numeric>
#include <vector>

#include "text_util.h"

namespace korvane {

namespace {

constexpr std::string_view kEllipsis = "\u2026";
constexpr std::string_view kLinkMark = " *";
constexpr std::size_t kSeparatorWidth = 3;  // " | "

bool IsNumericType(const std::string &type) {
    return type.rfind("uint", 0) == 0 || type.rfind("sint", 0) == 0 || type.rfind("real", 0) == 0;
}

std::string Printable(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return out;
}

std::string Pad(const std::string &text, std::size_t width, bool right) {
    const std::size_t have = DisplayWidth(text);
    const std::string fill(have < width ? width - have : 0, ' ');
    return right ? fill + text : text + fill;
}

// Columns wider than they may be take equal shares of the room the narrower
// ones leave (at least 1 each); the row number column keeps its width.
void FitWidths(std::vector<std::size_t> &widths, std::size_t maxWidth) {
    const std::size_t fixed = widths[0] + kSeparatorWidth * (widths.size() - 1);
    std::size_t room = maxWidth > fixed ? maxWidth - fixed : 0;
    if (std::accumulate(widths.begin() + 1, widths.end(), std::size_t{0}) <= room) return;
    std::vector<std::size_t> order(widths.size() - 1);
    std::iota(order.begin(), order.end(), std::size_t{1});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return widths[a] < widths[b]; });
    for (std::size_t i = 0; i < order.size(); ++i) {
        // Narrowest first, so what a narrow column leaves goes to the wider
        // ones; the widest gets what the division leaves over.
        std::size_t &width = widths[order[i]];
        width = std::min(width, std::max<std::size_t>(room / (order.size() - i), 1));
        room -= std::min(room, width);
    }
}

struct Cell {
    std::string text;
    bool linked = false;
    std::size_t Width() const { return DisplayWidth(text) + (linked ? kLinkMark.size() : 0); }
    std::string Fit(std::size_t width) const {
        if (!linked) return CutToWidth(text, width);
        if (width <= kLinkMark.size()) return CutToWidth(text + std::string(kLinkMark), width);
        return CutToWidth(text, width - kLinkMark.size()) + std::string(kLinkMark);
    }
};

// The column names, with the number from 1 for a column that has no name of
// its own, and the number of columns the widest record needs.
std::vector<std::string> ColumnNames(const ResponseTable &table) {
    std::size_t count = table.columns.size();
    for (const auto &record : table.records) count = std::max(count, record.size());
    std::vector<std::string> names;
    for (std::size_t c = 0; c < count; ++c)
        names.push_back(c < table.columns.size() ? table.columns[c].name : "");
    return names;
}

std::string CsvField(const std::string &value, bool alone) {
    if (value.find_first_of(",\"\r\n") == std::string::npos && !(alone && value.empty()))
        return value;
    std::string out = "\"";
    for (char c : value) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

}  // namespace

std::size_t DisplayWidth(std::string_view text) {
    std::size_t width = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
    return width;
}

std::string CutToWidth(std::string_view text, std::size_t width) {
    if (DisplayWidth(text) <= width) return std::string(text);
    if (width == 0) return "";
    // Keep width - 1 code points: stop at the start of the next one.
    std::size_t kept = 0;
    std::size_t end = 0;
    for (; end < text.size(); ++end) {
        if ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) continue;
        if (kept == width - 1) break;
        ++kept;
    }
    return std::string(text.substr(0, end)) + std::string(kEllipsis);
}

std::string FormatTable(const ResponseTable &table, std::size_t maxWidth) {
    std::string out = Printable(Trim(table.name));
    const std::string date = Printable(Trim(table.date));
    if (!date.empty()) out += (out.empty() ? "(" : " (") + date + ")";
    if (!out.empty()) out += "\n";
    if (table.hasError) {
        out += "error " + std::string(Trim(table.errorCode)) + ": " +
               Printable(table.errorDescription) + "\n";
        for (const std::string &line : table.troubleshooting) out += "  " + Printable(line) + "\n";
    } else {
        // The grid: row number column first, then the table's columns. A
        // record with more values than columns gets unnamed extra columns.
        const std::vector<std::string> names = ColumnNames(table);
        std::vector<Cell> header{{"#"}};
        std::vector<bool> right{true};
        for (std::size_t c = 0; c < names.size(); ++c) {
            header.push_back({Printable(names[c])});
            right.push_back(c < table.columns.size() && IsNumericType(table.columns[c].type));
        }
        bool anyLink = false;
        std::vector<std::vector<Cell>> rows;
        for (std::size_t r = 0; r < table.records.size(); ++r) {
            std::vector<Cell> row{{std::to_string(r + 1)}};
            for (std::size_t c = 0; c < names.size(); ++c) {
                if (c >= table.records[r].size()) {
                    row.emplace_back();
                    continue;
                }
                const ResponseCell &cell = table.records[r][c];
                row.push_back({Printable(cell.value), !cell.link.empty()});
                anyLink = anyLink || !cell.link.empty();
            }
            rows.push_back(std::move(row));
        }
        std::vector<std::size_t> widths;
        for (const Cell &name : header) widths.push_back(name.Width());
        for (const auto &row : rows)
            for (std::size_t c = 0; c < row.size(); ++c)
                widths[c] = std::max(widths[c], row[c].Width());
        if (maxWidth > 0) FitWidths(widths, maxWidth);

        auto line = [&](const std::vector<Cell> &cells) {
            std::string text;
            for (std::size_t c = 0; c < cells.size(); ++c) {
                if (c > 0) text += " | ";
                text += Pad(cells[c].Fit(widths[c]), widths[c], right[c]);
            }
            while (!text.empty() && text.back() == ' ') text.pop_back();
            return text + "\n";
        };
        out += line(header);
        for (std::size_t c = 0; c < widths.size(); ++c) {
            if (c > 0) out += "-+-";
            out += std::string(widths[c], '-');
        }
        out += "\n";
        for (const auto &row : rows) out += line(row);
        out += "(" + std::to_string(rows.size()) + (rows.size() == 1 ? " row)\n" : " rows)\n");
        if (anyLink) out += "* has a link: show it with --follow ROW:COLUMN\n";
    }
    if (maxWidth == 0) return out;
    std::string fitted;
    for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos;
         start = end + 1)
        fitted += CutToWidth(std::string_view(out).substr(start, end - start), maxWidth) + "\n";
    return fitted;
}

std::string FormatCsv(const ResponseTable &table) {
    const std::vector<std::string> names = ColumnNames(table);
    std::string out;
    auto row = [&](auto field) {
        for (std::size_t c = 0; c < names.size(); ++c) {
            if (c > 0) out += ',';
            out += CsvField(field(c), names.size() == 1);
        }
        out += "\r\n";
    };
    row([&](std::size_t c) { return names[c]; });
    for (const auto &record : table.records)
        row([&](std::size_t c) { return c < record.size() ? record[c].value : std::string(); });
    return out;
}

std::string FormatJson(const ResponseTable &table) {
    std::vector<std::string> keys = ColumnNames(table);
    for (std::size_t c = 0; c < keys.size(); ++c)
        if (keys[c].empty() ||
            std::find(keys.begin(), keys.begin() + c, keys[c]) != keys.begin() + c)
            keys[c] = std::to_string(c + 1);
    nlohmann::ordered_json records = nlohmann::ordered_json::array();
    for (const auto &record : table.records) {
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        for (std::size_t c = 0; c < keys.size(); ++c) {
            object[keys[c]] = c < record.size() ? record[c].value : std::string();
            if (c < record.size() && !record[c].link.empty())
                object[keys[c] + ".link"] = record[c].link;
        }
        records.push_back(std::move(object));
    }
    return records.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace korvane
