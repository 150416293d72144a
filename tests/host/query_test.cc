// korvane-host query, run as a person would: into a pipe, on a terminal of a
// given width, and in the machine formats read back by Python.
#include <gtest/gtest.h>

#include "host_test_support.h"

namespace hosttest {
namespace {

TEST(Query, BackslashesReachThePluginAsGiven) {
    // The plug-in's reader would turn "\n" in an attribute into a line feed;
    // the execution record shows the atom exactly as it was given.
    TempDir dir;
    const std::string events = dir.Path() + "/events.json";
    EXPECT_EQ(Host({"query", "Sample Age", "--where", "Name EQUAL C:\\new\\t", "--events", events})
                  .exitCode,
              0);
    EXPECT_NE(ReadFile(events).find("\"Filters\":\"'Name' EQUAL 'C:\\\\new\\\\t'\""),
              std::string::npos)
        << ReadFile(events);
}

// A table with what the samples lack, printed through the stand-in plug-in.
const std::string kTricky = std::string(NT_SOURCE_DIR) + "/tests/data/host/tricky-table.xml";

// The width in code points of the widest line.
std::size_t WidestLine(const std::string &text) {
    std::size_t widest = 0, width = 0;
    for (char c : text) {
        if (c == '\n') width = 0;
        if (c != '\n' && (static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
        widest = std::max(widest, width);
    }
    return widest;
}

TEST(Query, OnATerminalNoLineIsWiderThanTheTerminal) {
    struct Case {
        std::string setup;  // shell commands before the host runs, on its terminal
        std::size_t columns;
        std::vector<std::string> args;
        const char *golden;
    };
    const Case cases[] = {
        {"stty cols 80", 80, {"Define"}, "define-80.txt"},
        {"stty cols 40", 40, {"Sample Age"}, "sample-age-40.txt"},
        // A terminal that does not tell its width: $COLUMNS, then 80.
        {"stty cols 0; export COLUMNS=30", 30, {"Sample Age Detail"}, "sample-age-detail-30.txt"},
        {"stty cols 0; unset COLUMNS", 80, {"Define"}, "define-80.txt"},
        // Cuts fall between characters, never inside one.
        {"stty cols 11", 11, {"Ünïcödé-Täbellé"}, "unicode-11.txt"},
        {"stty cols 40", 40, {kTricky, "--plugin", FakePlugin()}, "tricky-40.txt"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setup);
        std::string command = c.setup + "; exec '" + NT_HOST_PATH + "' query";
        for (const std::string &arg : c.args) command += " '" + arg + "'";
        const CommandResult run = RunCommand({"script", "-qec", command, "/dev/null"});
        const std::string out = Fill(run.out, {{"\r\n", "\n"}});
        EXPECT_EQ(WithoutDates(out), Golden(c.golden));
        EXPECT_LE(WidestLine(out), c.columns);
    }
    // --wide, like a pipe, prints every value whole.
    const CommandResult wide = RunCommand(
        {"script", "-qec",
         std::string("stty cols 80; exec ") + NT_HOST_PATH + " query Define --wide", "/dev/null"});
    const std::string whole = WithoutDates(Host({"query", "Define"}).out);
    EXPECT_GT(WidestLine(whole), 700u);
    EXPECT_EQ(WithoutDates(Fill(wide.out, {{"\r\n", "\n"}})), whole);
}

// Reads the --xml document as the oracle and checks that the CSV and the JSON
// of the same table hold exactly its cells (and links). Prints the number of
// records and links and the characters that needed quoting.
const char *const kCheckFormats = R"(
import csv, io, json, sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
recs = [[(v.text or '', v.get('LINK')) for v in r.iter('VAL')] for r in root.iter('REC')]
cols = [c.get('NAME') for c in root.iter('COL')]
cols += [''] * (max([len(r) for r in recs] + [0]) - len(cols))  # as wide as the widest record
recs = [r + [('', None)] * (len(cols) - len(r)) for r in recs]
keys = [c if c and c not in cols[:i] else str(i + 1) for i, c in enumerate(cols)]
text = open(sys.argv[2], encoding='utf-8', newline='').read()
rows = list(csv.reader(io.StringIO(text, newline=''), strict=True))
assert rows == [cols] + [[v for v, _ in r] for r in recs], rows
again = io.StringIO(newline='')
csv.writer(again, lineterminator='\r\n').writerows(rows)
assert again.getvalue() == text, 'not minimal RFC 4180'
want = [{k: x for c, (v, l) in zip(keys, r) for k, x in [(c, v)] + ([(c + '.link', l)] if l else [])}
        for r in recs]
objects = json.load(open(sys.argv[3], encoding='utf-8'))
assert objects == want and all(list(o) == list(w) for o, w in zip(objects, want)), objects
special = sorted({c for r in rows for v in r for c in v if c in ',"\r\n'})
print(len(recs), sum(1 for r in recs for _, l in r if l), json.dumps(''.join(special)))
)";

TEST(Query, CsvAndJsonHoldTheCellsOfTheResponse) {
    TempDir dir;
    const std::pair<std::vector<std::string>, const char *> cases[] = {
        {{"Sample Age"}, "18 14 \"\\\",\"\n"},
        {{"Define"}, "4 0 \"\\n\\\"\"\n"},
        {{kTricky, "--plugin", FakePlugin()}, "3 1 \"\\n\\r\\\",\"\n"},
    };
    for (const auto &[table, summary] : cases) {
        SCOPED_TRACE(table[0]);
        const std::vector<std::string> &args =
            table;  // lambdas cannot capture bindings in clang 14
        auto query = [&](std::vector<std::string> options) {
            options.insert(options.begin(), args.begin(), args.end());
            options.insert(options.begin(), "query");
            return Host(options);
        };
        const CommandResult xml = query({"--xml"});
        const CommandResult csv = query({"--format", "csv"});
        const CommandResult json = query({"--format=json"});
        ASSERT_EQ(xml.exitCode + csv.exitCode + json.exitCode, 0) << csv.err << json.err;
        const CommandResult check =
            RunCommand({"python3", "-c", kCheckFormats, dir.Write("t.xml", xml.out),
                        dir.Write("t.csv", csv.out), dir.Write("t.json", json.out)});
        EXPECT_EQ(check.exitCode, 0) << check.err;
        EXPECT_EQ(check.out, summary);
    }
}

}  // namespace
}  // namespace hosttest
