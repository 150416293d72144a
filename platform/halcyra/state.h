// The backup server's state as one parsed, immutable snapshot, and the
// parser that builds it from a state document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "halcyra/halcyra_server.h"

namespace halcyra {

struct Message {
    std::int32_t severity = 0;
    std::u16string date, source, description, extension;
};

struct Configuration {
    std::u16string name, fileName;
    std::int32_t backupSets = 0, packageSize = 0, lowDiskSpaceLimit = 0;
};

struct Node {
    orgType type = orgOrganization;
    std::u16string name;
    std::int32_t active = 0, isProtected = 0;
    std::uint32_t parent = 0;    // the root is its own parent
    std::uint32_t position = 0;  // among the parent's children
    std::vector<std::uint32_t> children;
    // Users only.
    std::u16string config, lastLoginDate, dataPath, lastBackupDate;
    unsigned long storageSize = 0;
};

struct State {
    std::vector<Message> messages;
    std::vector<Configuration> configurations;
    std::u16string defaultConfiguration;
    std::vector<Node> nodes;  // in document order; nodes[0] is the root organization
    // The first of each name in document order, which is depth-first order.
    std::unordered_map<std::u16string, std::uint32_t> userByName;
    std::unordered_map<std::u16string, std::size_t> configurationByName;

    State();  // an unnamed root without children, nothing else
};

// A parse's outcome: the state, or null and one of the kError ids.
struct LoadResult {
    std::shared_ptr<const State> state;
    std::string_view error;
};

// Parses one state document with a reader of its own. Xerces-C must be
// initialised (see the top of halcyra_server.h); this never initialises or
// terminates it, so parses may run beside other parses of the process.
LoadResult ParseState(std::string_view document);

// The built-in sample server's document.
std::string_view SampleStateDocument();

}  // namespace halcyra
