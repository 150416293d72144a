#include "entry/instance_slot.h"

#include <utility>

namespace instance_slot {
namespace {
Tessel *g_instance = nullptr;
uint32_t g_pendingKey = 0;
}  // namespace

Tessel *Get() {
    return g_instance;
}
std::unique_ptr<Tessel> Take() {
    return std::unique_ptr<Tessel>(std::exchange(g_instance, nullptr));
}
void Put(std::unique_ptr<Tessel> tessel) {
    // Never overwrite a live object: it would be lost with its hooks unrun.
    Take();
    g_instance = tessel.release();
}
uint32_t PendingKey() {
    return g_pendingKey;
}
void SetPendingKey(uint32_t key) {
    g_pendingKey = key;
}

}  // namespace instance_slot
