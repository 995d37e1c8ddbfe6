// The composer's random generators.
#include "composer/draws.h"

#include <charconv>
#include <chrono>

namespace quavella {

DrawSource::~DrawSource() = default;

Generators::Generators(std::uint64_t seed_value) { seed(seed_value); }

void Generators::seed(std::uint64_t S) {
    s_ = S;
    t_ = static_cast<std::uint32_t>(S);
}

int Generators::random(int n) {
    if (n <= 0) return 0;
    constexpr std::uint64_t multiplier = (std::uint64_t{0x15A} << 32) + 0x4E35;
    s_ = s_ * multiplier + 1;
    const auto value = static_cast<std::uint32_t>((s_ >> 32) & 0x7FFFFFFFu);
    return static_cast<int>(value % static_cast<std::uint32_t>(n));
}

std::uint32_t Generators::shuffle() {
    t_ = t_ * 22695477u + 1u;
    return (t_ >> 16) & 0x7FFFu;
}

namespace {

/// Digits only, read whole into `value`.
template <typename Int>
bool parse_decimal(std::string_view text, Int& value) {
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(text.data(), last, value);
    return !text.empty() && ec == std::errc() && end == last;
}

}  // namespace

std::string state_text(const Generators::State& state) {
    return std::to_string(state.s) + ":" + std::to_string(state.t);
}

std::optional<Generators::State> parse_state(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    Generators::State state;
    if (!parse_decimal(text.substr(0, colon), state.s) ||
        !parse_decimal(text.substr(colon + 1), state.t)) {
        return std::nullopt;
    }
    return state;
}

std::uint64_t clock_seed() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count());
}

}  // namespace quavella
