// Diagnostic lines of the runtime library: written to standard error, and only while the
// program's log switch asks for them (VENDREL_LOG=trace). Standard output is never used: it
// belongs to the program's own output.
#pragma once

namespace infra {

// True when VENDREL_LOG is "trace" (read once).
bool TraceOn();

// Writes one line, printf-style, to standard error when TraceOn(); nothing otherwise.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace infra
