// Modal message boxes, as the window's commands show them.
// Qt-free, so the commands run in tests with fakes.
#pragma once

#include <string>

namespace quavella {

/// Modal message boxes with one OK button.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    /// A message to the user: no icon.
    virtual void show(const std::string& text, const std::string& caption) = 0;
    /// The standard error box: error icon.
    virtual void error(const std::string& text, const std::string& caption) = 0;
};

}  // namespace quavella
