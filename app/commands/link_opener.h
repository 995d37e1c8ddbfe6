// Opening a web address in the user's browser.
// Qt-free, so the commands run in tests with fakes.
#pragma once

#include <string>

namespace quavella {

/// Opens a web address in the user's browser.
class LinkOpener {
public:
    virtual ~LinkOpener() = default;
    /// Asks the desktop to open `url`.
    virtual void open_url(const std::string& url) = 0;
};

}  // namespace quavella
