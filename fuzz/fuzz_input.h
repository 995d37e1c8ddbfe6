// Reads typed values off the front of a fuzzer's input; what is left is the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

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

}  // namespace quavella::fuzz
