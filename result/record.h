// The pieces of a result table: typed columns, and records of text values
// (each with an optional drill-down link) by column position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "request/enums.h"
#include "request/tsl_string.h"

struct tslValue {
    tslString text;
    tslString link;  // empty: no link
};

// Values by column position. A record may hold fewer values than the table has
// columns: the missing ones read as empty texts everywhere (comparisons, LIKE,
// sets, UNIQUE) and are not written. Values beyond the last column are kept but
// never tested or written.
struct tslRecord {
    std::vector<tslValue> values;
};

struct tslColumn {
    tslString name;
    int32_t type = TYPE_UNKNOWN;
    tslString tooltip;
    bool output = true;  // the column and its values are written
};
