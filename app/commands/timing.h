// Waiting and the wall clock, behind interfaces so that tests never wait.
// Qt-free, so the commands run in tests with fakes.
#pragma once

#include <cstdint>

namespace quavella {

/// Blocks the calling thread; the window shows a wait cursor meanwhile.
class Sleeper {
public:
    virtual ~Sleeper() = default;
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
