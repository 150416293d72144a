// korvane-host query: one table of the plug-in as a text table, optionally
// following drill-down links.
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "host_runtime.h"
#include "query_request.h"
#include "table_printer.h"
#include "text_util.h"
#include "xml_readers.h"

namespace korvane {

namespace {

const char *const kQueryHelp =
    "usage: korvane-host query TABLE [options]\n"
    "\n"
    "Runs a select on TABLE in-process and prints the result as a text table.\n"
    "Example: korvane-host query \"Sample Age\" --where \"Name LIKE D*\" --columns Name\n"
    "\n"
    "options:\n"
    "  --where \"COLUMN OPERATOR VALUE\"  a predicate (repeatable); operators: EQUAL NEQ\n"
    "                       LESS GREATER LEQ GREATEQ LIKE NOTLIKE WITHINSET NOTINSET\n"
    "                       UNIQUE (or = != < > <= >=)\n"
    "  --or                 join the predicates with OR (default AND)\n"
    "  --columns A,B        output only these columns\n"
    "  --follow ROW:COLUMN  follow the link of that cell (ROW counts from 1; COLUMN\n"
    "                       is a name or a number); repeatable\n"
    "  --xml                print the response document instead of a table\n"
    "The plug-in's trace is discarded unless --trace-file names a file.\n";

const std::vector<OptionSpec> kQueryOptions = {
    {"where", true},      {"or", false},        {"columns", true}, {"follow", true},
    {"xml", false},       {"plugin", true},     {"config", true},  {"events", true},
    {"trust-list", true}, {"trace-file", true},
};

struct FollowStep {
    std::size_t row = 0;  // from 1
    std::string column;
};

bool ParseFollow(const std::string &text, FollowStep &step, std::string &error) {
    const std::size_t colon = text.find(':');
    const auto row = ParseNumber(text.substr(0, colon), 1, 1000000000);
    if (colon == std::string::npos || !row || colon + 1 == text.size()) {
        error = "bad --follow '" + text + "' (expected ROW:COLUMN, for example 1:Name)";
        return false;
    }
    step.row = *row;
    step.column = text.substr(colon + 1);
    return true;
}

// The link of the cell `step` names; false with `error` set.
bool CellLink(const ResponseTable &table, const FollowStep &step, std::string &link,
              std::string &error) {
    if (step.row > table.records.size()) {
        error = "--follow: row " + std::to_string(step.row) + " is out of range (the table has " +
                std::to_string(table.records.size()) + ")";
        return false;
    }
    std::size_t column = table.columns.size();
    for (std::size_t c = 0; c < table.columns.size(); ++c)
        if (table.columns[c].name == step.column) column = c;
    if (column == table.columns.size())
        for (std::size_t c = 0; c < table.columns.size(); ++c)
            if (AsciiIEquals(table.columns[c].name, step.column)) column = c;
    if (column == table.columns.size()) {
        if (const auto number = ParseNumber(step.column, 1, table.columns.size()))
            column = *number - 1;
    }
    const auto &record = table.records[step.row - 1];
    if (column >= table.columns.size() || column >= record.size()) {
        error = "--follow: no column '" + step.column + "' in " + table.name;
        return false;
    }
    link = record[column].link;
    if (link.empty()) {
        error =
            "--follow: the cell " + std::to_string(step.row) + ":" + step.column + " has no link";
        return false;
    }
    return true;
}

// The document without the HTTP header a raw-mode plug-in puts in front.
std::string BodyOf(const std::string &response) {
    if (response.rfind("HTTP/", 0) != 0) return response;
    const std::size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

}  // namespace

int RunQuery(int argc, char **argv, int first) {
    ParsedArgs args;
    std::string error;
    if (!args.Parse(argc, argv, first, kQueryOptions, error)) {
        PrintError(error + " (see korvane-host query --help)");
        return kExitUsage;
    }
    if (args.Help()) {
        std::printf("%s%s", kQueryHelp, kRuntimeOptionsHelp);
        return kExitOk;
    }
    if (args.Positional().size() != 1) {
        PrintError("query needs exactly one TABLE (quote names with blanks)");
        return kExitUsage;
    }
    QuerySpec spec;
    spec.table = args.Positional().front();
    spec.joinWithOr = args.Has("or");
    spec.columns = SplitColumns(args.Value("columns"));
    for (const std::string &text : args.Values("where")) {
        WhereClause clause;
        if (!ParseWhere(text, clause, error)) {
            PrintError(error);
            return kExitUsage;
        }
        spec.where.push_back(clause);
    }
    std::vector<FollowStep> follows;
    for (const std::string &text : args.Values("follow")) {
        FollowStep step;
        if (!ParseFollow(text, step, error)) {
            PrintError(error);
            return kExitUsage;
        }
        follows.push_back(step);
    }

    RuntimeOptions options = RuntimeOptionsFrom(args);
    options.summaryStream = nullptr;  // events only when --events asks for them
    // The plug-in traces every request; a table on a terminal needs none of it.
    if (options.traceFile.empty()) options.traceFile = "/dev/null";
    HostRuntime runtime;
    if (!runtime.Start(options, nullptr, error)) {
        PrintError(error);
        return kExitFailure;
    }

    std::string request = BuildQueryRequest(spec);
    for (std::size_t step = 0;; ++step) {
        const InvokeOutcome outcome = runtime.Plugin().Invoke(request, "");
        if (!outcome.hasResponse) {
            PrintError("the plug-in answered " + std::to_string(outcome.result) +
                       " without a response");
            return kExitFailure;
        }
        const std::string body = BodyOf(outcome.response);
        const bool last = step == follows.size();
        if (last && args.Has("xml")) {
            std::fwrite(body.data(), 1, body.size(), stdout);
            return outcome.result == 0 ? kExitOk : kExitFailure;
        }
        ResponseTable table;
        if (!ReadResponseTable(body, table, error) || !table.sawTable) {
            PrintError("unreadable response (" + (error.empty() ? "no RESPONSE_TABLE" : error) +
                       "); --xml shows it");
            return kExitFailure;
        }
        if (last || table.hasError) {
            const std::string text = FormatTable(table);
            std::fwrite(text.data(), 1, text.size(), stdout);
            return table.hasError || outcome.result != 0 ? kExitFailure : kExitOk;
        }
        if (!CellLink(table, follows[step], request, error)) {
            PrintError(error);
            return kExitFailure;
        }
    }
}

}  // namespace korvane
