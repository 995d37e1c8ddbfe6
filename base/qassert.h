// Contract checks of the core. A failed check reports
//   "Assertion failed: <expression>, file <module>, line <line>"
// and ends the program abnormally. The window installs a handler that shows
// the same text in a message box before the program ends.
#pragma once

#include <string>

namespace quavella {

/// Receives the full report text of a failed check. It must not return
/// normally; if it does, the program is aborted anyway.
using AssertHandler = void (*)(const std::string& report);

/// Installs the handler for failed checks and returns the previous one.
/// @param handler nullptr restores the default (print to stderr, abort).
AssertHandler set_assert_handler(AssertHandler handler);

/// Builds the report text: "Assertion failed: EXPR, file MODULE, line N".
std::string assert_report(const char* expression, const char* module, int line);

/// Reports a failed check through the installed handler and aborts.
[[noreturn]] void assert_failed(const char* expression, const char* module, int line);

}  // namespace quavella

/// Checks `expr`; on failure reports its text with the source module and the
/// real source line. The expression text is kept exactly as written in the call.
#define QV_ASSERT(module, expr) QV_ASSERT_TEXT(module, expr, #expr)

/// Checks `expr`; on failure reports `text` in place of the expression. For
/// checks whose reported text is fixed independently of how the code reads.
#define QV_ASSERT_TEXT(module, expr, text) \
    ((expr) ? static_cast<void>(0) : ::quavella::assert_failed(text, module, __LINE__))
