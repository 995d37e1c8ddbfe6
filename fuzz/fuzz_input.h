// Reads typed values off the front of a fuzzer's input; what is left is the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "composer/compose_request.h"

namespace quavella::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    /// The next byte, or 0 once the input is used up.
    std::uint8_t byte() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }
    /// The next `n` bytes as a little-endian number (missing bytes read 0).
    std::uint64_t number(int n) {
        std::uint64_t v = 0;
        for (int i = 0; i < n; ++i) v |= std::uint64_t{byte()} << (8 * i);
        return v;
    }
    /// A value in 0 .. n-1 taken from one byte (n at most 256).
    int below(int n) { return n <= 0 ? 0 : byte() % n; }
    bool empty() const { return size_ == 0; }
    /// Everything not read yet.
    std::string_view rest() const { return {reinterpret_cast<const char*>(data_), size_}; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

/// A composition request read off the front of an input: the three list
/// positions and a seed; the rest of the input is the lyric, GBK.
struct ComposeInput {
    /// The program refuses longer lyrics before it composes them.
    static constexpr std::size_t kMaxLyric = kMaxLyricBytes;

    explicit ComposeInput(FuzzInput& in)
        : speed(in.below(3)),
          mode(in.below(4)),
          timbre(in.below(10)),
          seed(in.number(8)),
          gbk(in.rest()) {}
    bool too_long() const { return gbk.size() > kMaxLyric; }

    int speed;
    int mode;
    int timbre;
    std::uint64_t seed;
    std::string_view gbk;
};

}  // namespace quavella::fuzz
