// The library's clocks: a millisecond and a microsecond counter that start at zero when the
// library is loaded and never go back (the system's steady clock, not the wall clock), and the
// id of the calling thread.
#pragma once

#include <cstdint>

namespace infra {

// Milliseconds since the library was loaded. Never decreases; a 64-bit count does not wrap.
uint64_t GetMSCount();

// Microseconds since the library was loaded. Never decreases.
uint64_t GetUSCount();

// The operating system's id of the calling thread (the number `ps -L` shows as LWP); the
// same id that CThread::GetThreadId reports for a library thread.
uint32_t GetCurrentThreadId();

}  // namespace infra
