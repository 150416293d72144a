#include "table_printer.h"

#include <algorithm>
#include <vector>

#include "text_util.h"

namespace korvane {

namespace {

bool IsNumericType(const std::string &type) {
    return type.rfind("uint", 0) == 0 || type.rfind("sint", 0) == 0 || type.rfind("real", 0) == 0;
}

std::string Printable(const std::string &text) {
    std::string out = text;
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return out;
}

std::string Pad(const std::string &text, std::size_t width, bool right) {
    const std::size_t have = DisplayWidth(text);
    const std::string fill(have < width ? width - have : 0, ' ');
    return right ? fill + text : text + fill;
}

}  // namespace

std::size_t DisplayWidth(const std::string &text) {
    std::size_t width = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
    return width;
}

std::string FormatTable(const ResponseTable &table) {
    std::string out = Printable(std::string(Trim(table.name)));
    const std::string date = Printable(std::string(Trim(table.date)));
    if (!date.empty()) out += (out.empty() ? "(" : " (") + date + ")";
    if (!out.empty()) out += "\n";
    if (table.hasError) {
        out += "error " + std::string(Trim(table.errorCode)) + ": " +
               Printable(table.errorDescription) + "\n";
        for (const std::string &line : table.troubleshooting) out += "  " + Printable(line) + "\n";
        return out;
    }

    // The grid: row number column first, then the table's columns. A record
    // with more values than columns gets unnamed extra columns.
    std::size_t columnCount = table.columns.size();
    for (const auto &record : table.records) columnCount = std::max(columnCount, record.size());
    std::vector<std::string> header{"#"};
    std::vector<bool> right{true};
    for (std::size_t c = 0; c < columnCount; ++c) {
        header.push_back(c < table.columns.size() ? Printable(table.columns[c].name) : "");
        right.push_back(c < table.columns.size() && IsNumericType(table.columns[c].type));
    }
    bool anyLink = false;
    std::vector<std::vector<std::string>> rows;
    for (std::size_t r = 0; r < table.records.size(); ++r) {
        std::vector<std::string> row{std::to_string(r + 1)};
        for (std::size_t c = 0; c < columnCount; ++c) {
            if (c >= table.records[r].size()) {
                row.emplace_back();
                continue;
            }
            const ResponseCell &cell = table.records[r][c];
            std::string value = Printable(cell.value);
            if (!cell.link.empty()) {
                value += " *";
                anyLink = true;
            }
            row.push_back(std::move(value));
        }
        rows.push_back(std::move(row));
    }
    std::vector<std::size_t> widths;
    for (const std::string &name : header) widths.push_back(DisplayWidth(name));
    for (const auto &row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));

    auto line = [&](const std::vector<std::string> &cells) {
        std::string text;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            if (c > 0) text += " | ";
            text += Pad(cells[c], widths[c], right[c]);
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
    return out;
}

}  // namespace korvane
