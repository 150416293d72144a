// Pellog: the tracing library the backup server methods write their step lines to.
//
// Each trace is one line of the file named by the environment variable
// PELLOG_FILE, appended with one write so that lines from several threads and
// processes never interleave. A trace is never cut short. Inside it, a line
// feed reads "\n", a carriage return "\r", a backslash "\\" and any other
// control character but tab "\xHH", so one trace is always exactly one line.
// PELLOG_FILE is read when tracing starts up (pllStartUpTracing, or the first
// trace if nothing started it), not at every trace: the backup server methods
// trace once per row. The file is opened at the first trace after that and
// kept open. Nothing is written while the variable was unset or empty at
// start-up, for a null format, or when the format cannot be expanded.
#pragma once

// Starts tracing: reads PELLOG_FILE again, and closes the file when it now
// names another path (or none). The argument is reserved and ignored. Safe to
// call more than once, from any thread.
void pllStartUpTracing(int reserved);

// Appends one formatted line (printf rules). Thread-safe; sets no errno the
// caller must look at and reports nothing.
void pllTrace(const char *format, ...) __attribute__((format(printf, 1, 2)));
