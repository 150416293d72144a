// The wall clock every dated text of the plug-in reads: trace file lines,
// response headers, table dates and execution records.
//
// Production code reads the system clock. A test may install a fixed clock so
// that dates in its expected outputs are exact; the setting is process-wide
// and meant to be made before the calls it affects, not while they run.
#pragma once

#include <ctime>

using TslClockFn = std::time_t (*)();

// The current time in seconds since the epoch.
std::time_t TslNow();

// Installs `clock`; a null pointer restores the system clock.
void TslSetClock(TslClockFn clock);
