// The window's handler of failed contract checks: the report in an error box
// before the program ends. main() installs it with set_assert_handler.
#pragma once

#include <string>

namespace quavella {

/// Shows a failed check's report in a modal error box captioned with the
/// program's file name; returns when the user closed it. A check failing on
/// another thread has its box shown by the window's thread while that thread
/// waits; when the window's thread does not take it in time (it may be waiting
/// for that very thread), the report goes to the standard error stream instead.
void show_assertion_box(const std::string& report);

}  // namespace quavella
