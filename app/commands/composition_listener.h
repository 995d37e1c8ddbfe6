// Who is told about each composition: the history as soon as it is made, the
// score window once the user has acknowledged "作曲完成". Qt-free, so the commands
// run in tests with fakes.
#pragma once

#include <cstddef>
#include <functional>
#include <utility>

#include "composition/composition.h"

namespace quavella {

/// The compositions of one command: a single composition, or the candidates of a best of
/// N in the order composed. Only the chosen one need be held: the others are made again
/// when they are asked for, one at a time, from what was kept of them (their state).
struct Press {
    std::size_t count = 0;   ///< how many compositions
    std::size_t chosen = 0;  ///< the one the player gets, below count
    /// Composition `k` (below count), the same value each time it is asked for; null when
    /// it could not be made. Safe to call on any thread.
    std::function<CompositionPtr(std::size_t k)> make;

    /// The press of one composition.
    static Press of(CompositionPtr single) {
        return {1, 0, [single = std::move(single)](std::size_t) { return single; }};
    }
};

/// Told about the compositions the compose commands make.
class CompositionListener {
public:
    virtual ~CompositionListener() = default;
    /// The compositions of one command, as soon as they are made, before the working
    /// file is written and before any message. The window tells it on a worker thread
    /// (the history's first try at a large press takes a while): a listener that shows
    /// anything posts it to the window's thread.
    virtual void made(const Press& press) { (void)press; }
    /// The composition now in the player, once "作曲完成" is acknowledged.
    virtual void composed(const CompositionPtr& composition) { (void)composition; }
};

}  // namespace quavella
