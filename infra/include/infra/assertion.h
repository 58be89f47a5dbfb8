// Assertion reports of the runtime support library.
//
// The library never throws and never aborts: when the system refuses an object the library
// needs (a thread), or a caller breaks a documented precondition, it reports the broken
// condition through one handler and then carries on with the documented failure result.
#pragma once

namespace infra {

// Receives one report: the broken condition as text ("m_threadImp->m_hThread", "n == 1"),
// the library source file ("infra/source/thread.cpp") and the line.
using AssertionHandler = void (*)(const char *expr, const char *file, int line);

// Reports a broken condition to the installed handler. The default handler prints
// "Assertion failed: EXPR, file FILE, line LINE" to standard error.
void ReportAssertion(const char *expr, const char *file, int line);

// Installs a handler for every later report and returns the previous one; null restores the
// default. Meant for tests and for a program that routes the reports into its own log.
AssertionHandler SetAssertionHandler(AssertionHandler handler);

}  // namespace infra

// Reports EXPR with the calling source file (shortened to its path from "infra/") and line.
#define INFRA_REPORT(expr) ::infra::ReportAssertion(expr, ::infra::detail::ShortFile(__FILE__), __LINE__)

namespace infra::detail {
// The part of a compiler file name from "infra/" on, so reports never carry a build machine's
// folders; the whole name when it has no such part.
const char *ShortFile(const char *file);
}  // namespace infra::detail
