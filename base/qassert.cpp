#include "base/qassert.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace quavella {
namespace {

void default_handler(const std::string& report) {
    std::fprintf(stderr, "%s\n", report.c_str());
    std::fflush(stderr);
}

std::atomic<AssertHandler> g_handler{&default_handler};

}  // namespace

AssertHandler set_assert_handler(AssertHandler handler) {
    return g_handler.exchange(handler ? handler : &default_handler);
}

std::string assert_report(const char* expression, const char* module, int line) {
    return std::string("Assertion failed: ") + expression + ", file " + module + ", line " +
           std::to_string(line);
}

void assert_failed(const char* expression, const char* module, int line) {
    g_handler.load()(assert_report(expression, module, line));
    std::abort();
}

}  // namespace quavella
