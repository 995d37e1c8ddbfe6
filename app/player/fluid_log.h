// FluidSynth reports why a driver, a synthesizer or a soundfont failed only through its
// log. FluidErrorCapture keeps the last error logged on its own thread while it lives, so
// the player can give FluidSynth's own words as the reason of its messages.
#pragma once

#include <string>

namespace quavella {

/// Collects the errors that FluidSynth logs on the constructing thread until destroyed.
/// The errors are still printed as FluidSynth prints them. Captures nest: the innermost
/// one on a thread receives the errors.
class FluidErrorCapture {
public:
    FluidErrorCapture();
    ~FluidErrorCapture();
    FluidErrorCapture(const FluidErrorCapture&) = delete;
    FluidErrorCapture& operator=(const FluidErrorCapture&) = delete;

    /// The last error logged since construction; empty when there was none.
    const std::string& last() const { return last_; }

private:
    friend void capture_fluid_error(const char* message);
    FluidErrorCapture* outer_;
    std::string last_;
};

}  // namespace quavella
