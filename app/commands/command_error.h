// An error a window command raises; the window shows it in the standard error box.
// Qt-free, so the commands run in tests with fakes.
#pragma once

#include <stdexcept>

namespace quavella {

/// An error raised by a window command and shown in the standard error box
/// (the error text, the application's title, an error icon, one OK button).
class CommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quavella
