// woblog: the media libraries' own log file.
//
// One process-wide log. Each qn::log call appends exactly one line
//   "yyyy-mm-dd hh:mm:ss.mmm <text>\n"   (local time)
// and flushes it, so a crash loses nothing already logged. Safe from any thread; lines of
// concurrent callers never interleave. Before the first successful qn::log_init (and
// after qn::log_close) lines are discarded: a library must not write into its host
// program's standard streams.
#pragma once

#include <cstdarg>

#if defined(__GNUC__) || defined(__clang__)
#define WOBLOG_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define WOBLOG_PRINTF(fmt, args)
#endif

namespace qn {

// Longest line written, timestamp and newline included; longer text is cut to fit.
constexpr unsigned log_line_max = 2048;

// Opens `path` for appending (created when missing) and sends later lines there, closing
// the previous file. 0 done; -1 when the file cannot be opened (the previous file, if any,
// stays in use).
int log_init(const char* path);

// Formats like printf and appends one line. Trailing line breaks of the text are dropped and
// inner ones become spaces, so one call is always one line.
void log(const char* fmt, ...) WOBLOG_PRINTF(1, 2);

// As qn::log with a va_list.
void vlog(const char* fmt, va_list args);

// Closes the log file; later lines are discarded until the next qn::log_init.
void log_close();

}  // namespace qn
