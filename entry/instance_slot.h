// The process-wide slot that holds the one Tessel object and the pending key.
//
// Kept as plain values (trivially destructible) because at process exit static
// destructors may run before the library's unload hook empties the slot.
#pragma once

#include <cstdint>
#include <memory>

#include "entry/tessel.h"

namespace instance_slot {

Tessel *Get();
// Takes the object out of the slot (null when empty).
std::unique_ptr<Tessel> Take();
void Put(std::unique_ptr<Tessel> tessel);

uint32_t PendingKey();
void SetPendingKey(uint32_t key);

}  // namespace instance_slot
