// Pellog: the tracing library the backup server methods write their step lines to.
#pragma once

// Starts tracing. The argument is reserved and ignored. Safe to call more than once.
void pllStartUpTracing(int reserved);

// Appends one formatted line to the file named by PELLOG_FILE; does nothing when
// the variable is unset. Thread-safe.
void pllTrace(const char *format, ...) __attribute__((format(printf, 1, 2)));
