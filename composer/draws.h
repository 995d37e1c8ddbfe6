// The random draws of the composer: the main generator behind random(n) and
// the shuffle generator of the pitch pool. Tests replace them with scripted
// draws through the DrawSource interface.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quavella {

/// Source of every random choice the composer makes.
class DrawSource {
public:
    virtual ~DrawSource();
    /// Returns 0 when n <= 0, otherwise the next main value modulo n (0 .. n-1).
    virtual int random(int n) = 0;
    /// Returns the next value of the shuffle generator, 0 .. 32767.
    virtual std::uint32_t shuffle() = 0;
};

/// The two linear congruential generators used for composing.
/// Main: s := s * (0x15A * 2^32 + 0x4E35) + 1 (mod 2^64), value = bits 32..62.
/// Shuffle: t := t * 22695477 + 1 (mod 2^32), value = bits 16..30.
class Generators final : public DrawSource {
public:
    /// Creates both generators seeded with `seed` (see seed()).
    explicit Generators(std::uint64_t seed = 0);
    /// Seeds both generators: s := S and t := S mod 2^32.
    void seed(std::uint64_t S);
    /// Both generators' states, enough to repeat every later draw exactly.
    struct State {
        std::uint64_t s = 0;  ///< main generator
        std::uint32_t t = 0;  ///< shuffle generator
        bool operator==(const State&) const = default;
    };
    /// Returns the current state of both generators.
    State state() const { return State{s_, t_}; }
    /// Restores a state returned by state().
    void restore(const State& st) {
        s_ = st.s;
        t_ = st.t;
    }
    /// Returns 0 when n <= 0 (without stepping), else bits 32..62 of the next state modulo n.
    int random(int n) override;
    /// Steps the shuffle generator and returns bits 16..30 of its new state.
    std::uint32_t shuffle() override;

private:
    std::uint64_t s_ = 0;
    std::uint32_t t_ = 0;
};

/// The state as `quavella-cli compose --state` takes it: "S:T", both decimal.
std::string state_text(const Generators::State& state);

/// Reads "S:T": S from 0 to 2^64-1, T from 0 to 2^32-1, both decimal digits only.
std::optional<Generators::State> parse_state(std::string_view text);

/// A seed that differs from run to run: the wall clock in nanoseconds since the
/// epoch. The window and the command line seed from it when no seed is given.
std::uint64_t clock_seed();

}  // namespace quavella
