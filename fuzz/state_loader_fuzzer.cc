// libFuzzer target: any bytes as a backup server state document through
// halcyra::ParseState. A parse either fails with one of the error ids and no
// state, or gives a state whose tree and name indexes hold together: every
// child points back to its parent at its own position, the root is its own
// parent, every node but the root is some node's child exactly once, and the
// name indexes lead to a user or a configuration of that name.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>
#include <xercesc/util/PlatformUtils.hpp>

#include "halcyra/state.h"

namespace {

void Fail(const char *what) {
    std::fprintf(stderr, "state loader: %s\n", what);
    std::abort();
}

void Check(const halcyra::State &state) {
    const std::vector<halcyra::Node> &nodes = state.nodes;
    if (nodes.empty() || nodes[0].parent != 0 || nodes[0].type != orgOrganization)
        Fail("no root organization");
    std::vector<int> seen(nodes.size(), 0);
    for (std::size_t n = 0; n < nodes.size(); ++n) {
        const std::vector<std::uint32_t> &children = nodes[n].children;
        if (!children.empty() && nodes[n].type != orgOrganization) Fail("a user with children");
        for (std::size_t k = 0; k < children.size(); ++k) {
            const std::uint32_t child = children[k];
            if (child == 0 || child >= nodes.size()) Fail("a child out of range");
            if (nodes[child].parent != n || nodes[child].position != k)
                Fail("a child that does not point back");
            if (child <= n) Fail("a child before its parent in document order");
            ++seen[child];
        }
    }
    for (std::size_t n = 1; n < nodes.size(); ++n)
        if (seen[n] != 1) Fail("a node that is not exactly one node's child");
    for (const auto &[name, index] : state.userByName)
        if (index >= nodes.size() || nodes[index].type != orgUser || nodes[index].name != name)
            Fail("a user index entry that leads elsewhere");
    for (const auto &[name, index] : state.configurationByName)
        if (index >= state.configurations.size() || state.configurations[index].name != name)
            Fail("a configuration index entry that leads elsewhere");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    xercesc::XMLPlatformUtils::Initialize();  // kept for the process
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const halcyra::LoadResult result =
        halcyra::ParseState(std::string_view(reinterpret_cast<const char *>(data), size));
    if (result.state) {
        if (!result.error.empty()) Fail("a state with an error");
        Check(*result.state);
    } else if (result.error != halcyra::kErrorInvalid && result.error != halcyra::kErrorLimit &&
               result.error != halcyra::kErrorUnreadable) {
        Fail("no state and no known error");
    }
    return 0;
}
