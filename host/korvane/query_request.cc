#include "query_request.h"

#include <sstream>
#include <utility>

#include "text_util.h"

namespace korvane {

namespace {

// The operator named by `word`, or "" when it names none.
std::string OperatorName(const std::string &word) {
    static const char *const kNames[] = {"EQUAL",     "NEQ",      "LESS",  "GREATER",
                                         "LEQ",       "GREATEQ",  "LIKE",  "NOTLIKE",
                                         "WITHINSET", "NOTINSET", "UNIQUE"};
    static const std::pair<const char *, const char *> kSymbols[] = {
        {"=", "EQUAL"}, {"==", "EQUAL"},  {"!=", "NEQ"}, {"<>", "NEQ"},
        {"<", "LESS"},  {">", "GREATER"}, {"<=", "LEQ"}, {">=", "GREATEQ"}};
    for (const char *name : kNames)
        if (AsciiIEquals(word, name)) return name;
    for (const auto &[symbol, name] : kSymbols)
        if (word == symbol) return name;
    return "";
}

}  // namespace

bool ParseWhere(const std::string &text, WhereClause &clause, std::string &error) {
    // Walk the blank-separated words, remembering where each starts and ends.
    std::size_t position = 0;
    while (position < text.size()) {
        while (position < text.size() && (text[position] == ' ' || text[position] == '\t'))
            ++position;
        const std::size_t start = position;
        while (position < text.size() && text[position] != ' ' && text[position] != '\t')
            ++position;
        if (start == position) break;
        const std::string name = OperatorName(text.substr(start, position - start));
        if (name.empty()) continue;
        const std::string column(Trim(std::string_view(text).substr(0, start)));
        if (column.empty()) continue;  // an operator word cannot be the whole column
        clause.column = column;
        clause.oper = name;
        clause.value = std::string(Trim(std::string_view(text).substr(position)));
        return true;
    }
    error = "bad --where '" + text + "' (expected \"COLUMN OPERATOR VALUE\", for example " +
            "\"Name LIKE D*\")";
    return false;
}

std::string BuildQueryRequest(const QuerySpec &spec) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<tesselrequest version=\"V02.0\">"
        "<sponsor version=\"V02.0\">korvane-host</sponsor>"
        "<portal location=\"\"/>"
        "<select><output>";
    if (spec.columns.empty()) {
        out += "<all/>";
    } else {
        out += "<col>";
        for (const std::string &column : spec.columns)
            out += "<target name=\"" + RequestAttribute(column) + "\"/>";
        out += "</col>";
    }
    out += "</output><from><db name=\"" + RequestAttribute(spec.table) + "\"/></from><where>";
    bool firstClause = true;
    for (const WhereClause &clause : spec.where) {
        if (!firstClause)
            out += std::string("<logic oper=\"") + (spec.joinWithOr ? "OR" : "AND") + "\"/>";
        firstClause = false;
        out += "<predicat><compare oper=\"" + clause.oper + "\"><target name=\"" +
               RequestAttribute(clause.column) + "\"></target><atom value=\"" +
               RequestAttribute(clause.value) + "\"></atom></compare></predicat>";
    }
    out += "</where></select></tesselrequest>";
    return out;
}

std::vector<std::string> SplitColumns(const std::string &list) {
    std::vector<std::string> columns;
    std::istringstream parts(list);
    for (std::string part; std::getline(parts, part, ',');) {
        const std::string_view name = Trim(part);
        if (!name.empty()) columns.emplace_back(name);
    }
    return columns;
}

}  // namespace korvane
