// Diagnostic lines behind the log switch (see trace.h).
#include "infra/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace infra {

bool TraceOn() {
  static const bool on = [] {
    const char* level = std::getenv("VENDREL_LOG");
    return level != nullptr && std::strcmp(level, "trace") == 0;
  }();
  return on;
}

void Trace(const char* format, ...) {
  if (!TraceOn()) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

}  // namespace infra
