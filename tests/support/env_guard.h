// An environment variable set (or removed) for one scope and restored when the
// scope ends, also when an assertion leaves the test early.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

namespace quavella::test {

class EnvGuard {
public:
    /// Sets `name` to `value`, or removes it when `value` is nothing.
    EnvGuard(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = ::getenv(name_.c_str())) old_ = old;
        if (value) {
            ::setenv(name_.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    ~EnvGuard() {
        if (old_) {
            ::setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace quavella::test
