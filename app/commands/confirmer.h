// Yes/no questions to the user.
// Qt-free, so the commands run in tests with fakes.
#pragma once

#include <string>

namespace quavella {

/// A yes/no question to the user, e.g. before something is deleted.
class Confirmer {
public:
    virtual ~Confirmer() = default;
    /// @return true when the user answered yes
    virtual bool confirm(const std::string& question, const std::string& caption) = 0;
};

}  // namespace quavella
