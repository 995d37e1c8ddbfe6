// Where the composer's consistency messages go: a message box in the window,
// the standard error stream in the command-line tool, a recorder in tests.
#pragma once

#include <string>

namespace quavella {

/// Receives the short texts the composer shows while it goes on composing.
class MessageSink {
public:
    virtual ~MessageSink();
    /// Shows one message text exactly as given (blanks included).
    virtual void show(const std::string& text) = 0;
};

/// Drops every message: for a melody composed again, whose messages were shown
/// the first time.
class QuietSink final : public MessageSink {
public:
    void show(const std::string&) override {}
};

}  // namespace quavella
