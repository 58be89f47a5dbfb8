// Assertion reports: one replaceable handler, printing to standard error by default.
#include "infra/assertion.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace infra {
namespace {

void PrintAssertion(const char *expr, const char *file, int line) {
  std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expr, file, line);
}

std::atomic<AssertionHandler> g_handler{&PrintAssertion};

}  // namespace

void ReportAssertion(const char *expr, const char *file, int line) {
  g_handler.load()(expr, file, line);
}

AssertionHandler SetAssertionHandler(AssertionHandler handler) {
  return g_handler.exchange(handler ? handler : &PrintAssertion);
}

namespace detail {

const char *ShortFile(const char *file) {
  for (const char *p = std::strstr(file, "infra/"); p; p = std::strstr(p + 1, "infra/")) {
    const char *rest = p + std::strlen("infra/");
    if (std::strncmp(rest, "source/", 7) == 0 || std::strncmp(rest, "include/", 8) == 0 ||
        std::strncmp(rest, "tests/", 6) == 0)
      return p;
  }
  return file;
}

}  // namespace detail
}  // namespace infra
