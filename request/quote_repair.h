// Repairs double quotes inside attribute values of a request text; a text
// without inner quotes comes back unchanged.
#pragma once

#include <string>
#include <string_view>

std::string RepairQuotes(std::string_view request);
