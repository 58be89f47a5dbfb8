// The file-system log.
//
// Four levels. Warnings and errors are always printed to the log stream (standard output
// unless changed) as one line each; trace and info lines only when the verbose switch is on
// (set_log_verbose: `krt -v`, VENDREL_LOG=trace for the viewer). While it is off their
// arguments are type-checked but never evaluated.
//
//   2010-03-05 08:00:00|FSWarn message
//   2010-03-05 08:00:01|FSError message
//   2010-03-05 08:00:02|FSTrace message
//
// The time prefix is printed only at the start of a line: a message that does not end with a
// newline is continued, without a prefix, by the next message. A formatted message is cut to
// fit an 8,192-byte line buffer; a cut message always ends its line.
#pragma once

#include <cstdio>

namespace krt {

// Switches trace and info lines on or off (off when the program starts). Output that only the
// info level shows, such as the driver tables at start-up, is skipped while it is off.
void set_log_verbose(bool on);

// Whether trace and info lines are printed.
bool log_verbose();

// Switches trace and info lines on when the environment variable VENDREL_LOG is "trace" or
// "info". Returns whether they are on.
bool set_log_verbose_from_environment();

// The stream warnings and errors go to (standard output unless changed).
std::FILE* log_stream();

// Prints "FSTrace " / "FSInfo " and the formatted message, as log_warn does, whatever the switch
// says (the log_trace / log_info macros test it first). Returns the characters written.
int log_trace_line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
int log_info_line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Size of the line buffer a warning or error is formatted into, terminating zero included.
constexpr int kLogLineBytes = 8192;

// Prints "FSWarn " and the formatted message (with the time prefix at the start of a line).
// Returns the number of characters written, prefix included.
int log_warn(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Prints "FSError " and the formatted message, as log_warn does. Returns the characters written.
int log_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Sends warnings and errors to stream instead of standard output (null restores standard
// output). Tests use it to capture the log.
void set_log_stream(std::FILE* stream);

// Marks the log as standing at the start of a line, as it does when the program starts.
void reset_log_line();

}  // namespace krt

// Trace and info messages: printed only while the verbose switch is on; the arguments are not
// evaluated while it is off.
#define log_trace(...)                                               \
  do {                                                               \
    if (::krt::log_verbose()) ::krt::log_trace_line(__VA_ARGS__);    \
  } while (0)
#define log_info(...)                                                \
  do {                                                               \
    if (::krt::log_verbose()) ::krt::log_info_line(__VA_ARGS__);     \
  } while (0)
