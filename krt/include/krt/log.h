// The file-system log.
//
// Four levels. Trace and info are compiled to nothing: their arguments are type-checked but
// never evaluated. Warnings and errors are printed to the log stream (standard output unless
// changed) as one line each:
//
//   2010-03-05 08:00:00|FSWarn message
//   2010-03-05 08:00:01|FSError message
//
// The time prefix is printed only at the start of a line: a message that does not end with a
// newline is continued, without a prefix, by the next warning or error. A formatted message is
// cut to fit an 8,192-byte line buffer; a cut message always ends its line.
#pragma once

#include <cstdio>

namespace krt {

// Whether trace and info messages produce output (they do not). Output that only the info level
// would show, such as the driver tables at start-up, is skipped when this is false.
constexpr bool kLogInfoEnabled = false;

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

// Does nothing; lets the trace and info macros check their arguments without evaluating them.
inline void log_discard(const char*, ...) __attribute__((format(printf, 1, 2)));
inline void log_discard(const char*, ...) {}

}  // namespace krt

// Trace and info messages: compiled to nothing, arguments never evaluated.
#define KRT_LOG_DISCARDED(...)                  \
  do {                                          \
    if constexpr (false) {                      \
      ::krt::log_discard(__VA_ARGS__);          \
    }                                           \
  } while (0)
#define log_trace(...) KRT_LOG_DISCARDED(__VA_ARGS__)
#define log_info(...) KRT_LOG_DISCARDED(__VA_ARGS__)
