// Repairs double quotes inside attribute values of a request text; a text
// without inner quotes comes back unchanged. At most 65,536 quotes are
// repaired, so the text grows by at most 320 KiB.
#pragma once

#include <string>
#include <string_view>

std::string RepairQuotes(std::string_view request);
