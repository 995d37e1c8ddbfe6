// Who is told about each composition: the history as soon as it is made, the
// score window once the user has acknowledged "作曲完成". Qt-free, so the commands
// run in tests with fakes.
#pragma once

#include <cstddef>
#include <span>

#include "composition/composition.h"

namespace quavella {

/// Told about the compositions the compose commands make.
class CompositionListener {
public:
    virtual ~CompositionListener() = default;
    /// The compositions of one command, as soon as they are made, before the working
    /// file is written and before any message: a single composition, or every candidate of a
    /// best-of composition in the order composed. `chosen` is the one the player gets.
    virtual void made(std::span<const CompositionPtr> compositions, std::size_t chosen) {
        (void)compositions;
        (void)chosen;
    }
    /// The composition now in the player, once "作曲完成" is acknowledged.
    virtual void composed(const CompositionPtr& composition) { (void)composition; }
};

}  // namespace quavella
