// Waiting and the wall clock, behind interfaces so that tests never wait.
// Qt-free, so the commands run in tests with fakes.
#pragma once

#include <cstdint>

namespace quavella {

/// The commands' waits. The window's returns after the time has passed with a wait cursor
/// shown meanwhile; the window keeps painting and its timers run, but it takes no input
/// until the wait is over, so the command goes on exactly as after a blocking wait.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    /// Returns once `ms` milliseconds have passed.
    virtual void sleep_ms(int ms) = 0;
};

/// The wall clock, read once to seed the random generators.
class Clock {
public:
    virtual ~Clock() = default;
    /// A value that differs from run to run (nanoseconds since the epoch).
    virtual std::uint64_t now() = 0;
};

}  // namespace quavella
