// Pellog: the tracing library the backup server methods write their step lines to.
//
// Each trace is one line of the file named by the environment variable
// PELLOG_FILE, appended with one write so that lines from several threads and
// processes never interleave. A trace is never cut short. Inside it, a line
// feed reads "\n", a carriage return "\r", a backslash "\\" and any other
// control character but tab "\xHH", so one trace is always exactly one line.
// The file is opened once and kept open; it is opened anew only when
// PELLOG_FILE names another path. Nothing is written while the variable is
// unset or empty, for a null format, or when the format cannot be expanded.
#pragma once

// Starts tracing. The argument is reserved and ignored. Safe to call more than once.
void pllStartUpTracing(int reserved);

// Appends one formatted line (printf rules). Thread-safe; sets no errno the
// caller must look at and reports nothing.
void pllTrace(const char *format, ...) __attribute__((format(printf, 1, 2)));
