// Capture of FluidSynth's error log (see fluid_log.h).
#include "app/player/fluid_log.h"

#include <fluidsynth.h>

#include <mutex>

namespace quavella {

namespace {

// The innermost capture of each thread.
thread_local FluidErrorCapture* current = nullptr;

}  // namespace

void capture_fluid_error(const char* message);

namespace {

void log_handler(int level, const char* message, void* data) {
    capture_fluid_error(message);
    fluid_default_log_function(level, message, data);
}

}  // namespace

void capture_fluid_error(const char* message) {
    if (current != nullptr) current->last_ = message != nullptr ? message : "";
}

FluidErrorCapture::FluidErrorCapture() : outer_(current) {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, log_handler, nullptr);
        fluid_set_log_function(FLUID_ERR, log_handler, nullptr);
    });
    current = this;
}

FluidErrorCapture::~FluidErrorCapture() { current = outer_; }

}  // namespace quavella
