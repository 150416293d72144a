// One configuration element of the text the host hands over at "initialize".
#pragma once

#include <cstdint>
#include <vector>

#include "request/tsl_string.h"

struct ConfigEntry {
    static constexpr uint32_t kAttribute = 2;

    tslString name;
    uint32_t kind = 0;  // kAttribute for an entry made from an attribute
    tslString value;
    std::vector<ConfigEntry> children;  // one per attribute, in attribute order
};
