// Threads whose work may outlive whoever started it (an audio export the window no longer
// waits for, a soundfont load stuck on a file that never answers), owned by the process
// instead of detached: each is joined once its work is done, and the program's end joins
// those left, or ends without them when they are stuck in the system. The player and the
// window's background jobs start their threads here.
#pragma once

#include <chrono>
#include <functional>

namespace quavella {

/// Starts `work` on a thread the process owns. Threads whose work is done are joined
/// here as new ones start, so they never pile up.
/// @throw std::system_error when no thread could be started
void start_owned_thread(std::function<void()> work);

/// Joins every owned thread whose work ends within `deadline`.
/// @return true when none is left running: the program may end normally; false when some
/// work is stuck (the program should end at once, without running static destructors
/// under it)
bool join_owned_threads(std::chrono::milliseconds deadline);

/// How many owned threads are still running their work.
int owned_threads_running();

}  // namespace quavella
