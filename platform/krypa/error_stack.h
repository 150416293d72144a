// The per-thread error stack behind krypa_error_*.
#pragma once

#include <cstdint>

namespace krypa {

// Pushes one of krypa's own entries (module "krypa") on the calling thread's stack.
void PushError(int32_t code, const char *message, const char *file, int line) noexcept;

// Moves every entry of the calling thread's OpenSSL error queue onto the stack,
// oldest first, leaving the queue empty.
void MoveOpenSslErrors() noexcept;

}  // namespace krypa
