// The request text `korvane-host query` sends: a select on one table with
// optional output columns and predicates joined by AND or OR.
#pragma once

#include <string>
#include <vector>

namespace korvane {

struct WhereClause {
    std::string column;
    std::string oper;  // the operator's name as the plug-in reads it, e.g. "LIKE"
    std::string value;
};

// "COLUMN OPERATOR VALUE": the operator is the first blank-separated word
// that names one (EQUAL NEQ LESS GREATER LEQ GREATEQ LIKE NOTLIKE WITHINSET
// NOTINSET UNIQUE, any letter case, or = != < > <= >=); the column is what
// stands before it (blanks inside allowed), the value what follows.
bool ParseWhere(const std::string &text, WhereClause &clause, std::string &error);

struct QuerySpec {
    std::string table;
    std::vector<WhereClause> where;
    bool joinWithOr = false;
    std::vector<std::string> columns;  // empty: all columns
};

// The complete request text; every inserted name and value is escaped for
// the plug-in's reader.
std::string BuildQueryRequest(const QuerySpec &spec);

// "A,B" -> {"A", "B"}, blanks around names trimmed, empty names dropped.
std::vector<std::string> SplitColumns(const std::string &list);

}  // namespace korvane
