// korvane-host query: one table of the plug-in as a text table, CSV or JSON,
// optionally following drill-down links.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli.h"
#include "commands.h"
#include "host_runtime.h"
#include "query_request.h"
#include "table_printer.h"
#include "text_util.h"
#include "xml_readers.h"

namespace korvane {

namespace {

const char *const kQueryFooter =
    "Runs a select on TABLE in-process and prints the result.\n"
    "Example: korvane-host query \"Sample Age\" --where \"Name LIKE D*\" --columns Name\n"
    "\n"
    "Formats: \"table\" is a text table; on a terminal, values too wide for it are\n"
    "cut with \"\u2026\" (--wide prints them whole). \"csv\" is a header row of column\n"
    "names, then one row per record (RFC 4180: CRLF line ends, quoted fields).\n"
    "\"json\" is an array with one object per record, every value a string:\n"
    "  [{\"Name\": \"Dalkah\", \"Name.link\": \"<tesselrequest ...\", \"Age\": \"2001\"}]\n"
    "where \"COLUMN.link\" carries the drill-down request of a cell that has one.\n"
    "With csv and json, an error answer goes to standard error.\n"
    "The plug-in's trace is discarded unless --trace-file names a file.";

struct QuerySettings {
    std::string table;
    std::vector<std::string> where;
    bool joinWithOr = false;
    std::string columns;
    std::vector<std::string> follow;
    bool xml = false;
    std::string format = "table";
    bool wide = false;
    RuntimeOptions runtime;
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

// The columns a table on standard output may take: none (0) when it is not
// a terminal or --wide is given; else the terminal's width, or $COLUMNS
// when the terminal does not tell, or 80.
std::size_t OutputColumns(bool wide) {
    if (wide || ::isatty(STDOUT_FILENO) != 1) return 0;
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    const char *columns = std::getenv("COLUMNS");
    if (const auto number = ParseNumber(columns == nullptr ? "" : columns, 1, 100000))
        return *number;
    return 80;
}

// The last table of the query in the chosen format.
int PrintTable(const ResponseTable &table, const QuerySettings &settings, int32_t result) {
    std::string text;
    if (settings.format == "table") {
        text = FormatTable(table, OutputColumns(settings.wide));
    } else if (table.hasError) {
        // Keep standard output parseable: nothing rather than a half format.
        text = FormatTable(table, 0);
        text.pop_back();
        PrintError(text);
        return kExitFailure;
    } else {
        text = settings.format == "csv" ? FormatCsv(table) : FormatJson(table);
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return table.hasError || result != 0 ? kExitFailure : kExitOk;
}

int RunQuery(const QuerySettings &settings) {
    QuerySpec spec;
    spec.table = settings.table;
    spec.joinWithOr = settings.joinWithOr;
    spec.columns = SplitColumns(settings.columns);
    std::string error;
    for (const std::string &text : settings.where) {
        WhereClause clause;
        if (!ParseWhere(text, clause, error)) {
            PrintError(error);
            return kExitUsage;
        }
        spec.where.push_back(clause);
    }
    std::vector<FollowStep> follows;
    for (const std::string &text : settings.follow) {
        FollowStep step;
        if (!ParseFollow(text, step, error)) {
            PrintError(error);
            return kExitUsage;
        }
        follows.push_back(step);
    }

    RuntimeOptions options = settings.runtime;
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
        if (last && settings.xml) {
            std::fwrite(body.data(), 1, body.size(), stdout);
            return outcome.result == 0 ? kExitOk : kExitFailure;
        }
        ResponseTable table;
        if (!ReadResponseTable(body, table, error) || !table.sawTable) {
            PrintError("unreadable response (" + (error.empty() ? "no RESPONSE_TABLE" : error) +
                       "); --xml shows it");
            return kExitFailure;
        }
        if (last || table.hasError) return PrintTable(table, settings, outcome.result);
        if (!CellLink(table, follows[step], request, error)) {
            PrintError(error);
            return kExitFailure;
        }
    }
}

}  // namespace

Command AddQueryCommand(CLI::App &program) {
    auto settings = std::make_shared<QuerySettings>();
    CLI::App *query = program.add_subcommand("query", "print a table of the plug-in");
    query->footer(kQueryFooter);
    query->add_option("TABLE", settings->table, "the table (quote names with blanks)")
        ->type_name("")
        ->required();
    query
        ->add_option("--where", settings->where,
                     "a predicate (repeatable); operators: EQUAL NEQ\n"
                     "LESS GREATER LEQ GREATEQ LIKE NOTLIKE WITHINSET NOTINSET\n"
                     "UNIQUE (or = != < > <= >=)")
        ->type_name("\"COLUMN OPERATOR VALUE\"")
        ->allow_extra_args(false);
    query->add_flag("--or", settings->joinWithOr, "join the predicates with OR (default AND)");
    query->add_option("--columns", settings->columns, "output only these columns")
        ->type_name("A,B");
    query
        ->add_option("--follow", settings->follow,
                     "follow the link of that cell (ROW counts from 1; COLUMN\n"
                     "is a name or a number); repeatable")
        ->type_name("ROW:COLUMN")
        ->allow_extra_args(false);
    query->add_flag("--xml", settings->xml,
                    "print the response document instead (whatever --format says)");
    query->add_option("--format", settings->format, "how to print the table (see below)")
        ->type_name("table|csv|json")
        ->check(CLI::IsMember({"table", "csv", "json"}).description(""))
        ->capture_default_str();
    query->add_flag("--wide", settings->wide, "do not cut values to fit the terminal");
    AddRuntimeOptions(*query, settings->runtime);
    return {query, [settings] { return RunQuery(*settings); }};
}

}  // namespace korvane
