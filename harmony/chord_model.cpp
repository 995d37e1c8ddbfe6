// The chord model: each slot's fit to the notes under it, the transitions between
// chords, and the Viterbi search over (chord, run length) states.
#include "harmony/chord_model.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace quavella::harmony {

namespace {

using Cost = std::int64_t;
constexpr Cost kInfinite = std::numeric_limits<Cost>::max() / 4;

/// Run lengths the search tells apart: 1 .. kMaxRunSlots, and "longer".
constexpr int kRuns = kMaxRunSlots + 1;
constexpr std::size_t kRunStates = kRuns;

/// One note as it sounds in one slot.
struct Segment {
    int pitch = 0;
    int weight = 0;       ///< sixteenths sounding, plus the beat bonuses
    int next_pitch = -1;  ///< the pitch of the note after it; -1 at the end
};

/// The silence after note `i` of a request.
std::int64_t rest_at(const ChordRequest& request, std::size_t i) {
    return i < request.rests.size() ? std::max(request.rests[i], 0) : 0;
}

/// The notes sounding in each slot.
std::vector<std::vector<Segment>> slot_segments(const ChordRequest& request, int slots) {
    std::vector<std::vector<Segment>> segments(static_cast<std::size_t>(slots));
    const ChordWeights& w = request.weights;
    const std::size_t n = std::min(request.notes.size(), request.ticks.size());
    std::int64_t start = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t end = start + std::max(request.ticks[i], 0);
        const int next = i + 1 < n ? request.notes[i + 1] : -1;
        for (std::int64_t slot = start / kSlotTicks; slot < slots && slot * kSlotTicks < end;
             ++slot) {
            const std::int64_t from = std::max(start, slot * kSlotTicks);
            const std::int64_t to = std::min(end, (slot + 1) * kSlotTicks);
            if (to <= from) continue;
            int weight = static_cast<int>(std::max<std::int64_t>((to - from + 15) / 30, 1));
            if (from == slot * kSlotTicks) {
                weight += w.strong_beat;
            } else if (from == start && (from - slot * kSlotTicks) % notation::kTicksPerBeat == 0) {
                weight += w.on_beat;
            }
            segments[static_cast<std::size_t>(slot)].push_back({request.notes[i], weight, next});
        }
        start = end + rest_at(request, i);
    }
    return segments;
}

/// How a melody pitch sounds over a chord tone below it: +1 for a unison, third,
/// fifth or sixth, 0 for a fourth, -1 for a second, seventh or tritone.
int consonance(int pitch, int chord_pc) {
    switch (((pitch - chord_pc) % 12 + 12) % 12) {
        case 0:
        case 3:
        case 4:
        case 7:
        case 8:
        case 9:
            return 1;
        case 5:
            return 0;
        default:
            return -1;
    }
}

Cost fit(const std::vector<Segment>& segments, Chord chord, const ChordWeights& w) {
    Cost cost = 0;
    for (const Segment& s : segments) {
        int per = 0;
        switch (clash_class(chord, s.pitch)) {
            case 0:
                per = w.chord_tone;
                break;
            case 1:
                per = w.clash;
                break;
            default: {
                const bool steps = s.next_pitch >= 0 && std::abs(s.next_pitch - s.pitch) <= 2 &&
                                   is_chord_tone(chord, s.next_pitch);
                per = steps ? w.stepping_tone : w.other_tone;
            }
        }
        if (w.consonance != 0) {
            int sum = 0;
            for (int pc : chord_tones(chord)) sum += consonance(s.pitch, pc);
            per -= w.consonance * sum;
        }
        cost += static_cast<Cost>(per) * s.weight;
    }
    return cost;
}

Cost prior(Chord chord, const ChordWeights& w) {
    switch (chord.kind) {
        case ChordKind::sus2:
        case ChordKind::sus4:
            return w.suspended;
        case ChordKind::minor7_no5:
            return w.seventh_no_fifth;
        default: {
            const int degree = degree_of(chord);
            return degree == 2 || degree == 3 ? w.secondary_root : 0;
        }
    }
}

enum class Function { tonic, subdominant, dominant, none };

Function function_of(Chord chord) {
    switch (degree_of(chord)) {
        case 1:
        case 3:
        case 6:
            return Function::tonic;
        case 2:
        case 4:
            return Function::subdominant;
        case 5:
        case 7:
            return Function::dominant;
        default:
            return Function::none;
    }
}

/// The cost of moving from `from` to a different chord `to` at `slot`.
Cost transition(Chord from, Chord to, int slot, const ChordWeights& w) {
    Cost cost = w.change;
    if (slot % 2 == 1) cost += w.mid_bar_change;
    const Function a = function_of(from);
    const Function b = function_of(to);
    if (a != Function::none && b != Function::none) {
        if (a == b) {
            cost += w.same_function;
        } else if (a == Function::tonic && b == Function::dominant) {
            cost += w.to_dominant;
        } else if (a == Function::dominant && b == Function::subdominant) {
            cost += w.retrogression;
        } else if (a == Function::subdominant && b == Function::tonic) {
            cost += w.back_to_tonic;
        }
    }
    if (((from.root - to.root) % 12 + 12) % 12 == 7) cost += w.fifth_down;
    return cost;
}

/// The cost of a slot at run length `run` (1-based; kRuns stands for longer).
Cost run_cost(int run, const ChordWeights& w) {
    Cost cost = 0;
    if (run > w.hold_after) cost += w.hold;
    if (run > kMaxRunSlots) cost += w.too_long;
    return cost;
}

/// The locked chord of each slot, if any.
std::vector<const Chord*> locked_slots(const ChordRequest& request, int slots) {
    std::vector<const Chord*> locked(static_cast<std::size_t>(slots), nullptr);
    for (const Lock& lock : request.locks)
        if (lock.slot >= 0 && lock.slot < slots)
            locked[static_cast<std::size_t>(lock.slot)] = &lock.chord;
    return locked;
}

std::vector<Chord> candidates(const ChordRequest& request, int slot, int slots,
                              const Chord* locked) {
    if (locked != nullptr) return {*locked};
    const std::size_t n = std::min(request.notes.size(), request.ticks.size());
    if (slot == slots - 1 && n > 0) {
        std::vector<Chord> final_chords = chords_on(request.scale, request.notes[n - 1]);
        if (!final_chords.empty()) return final_chords;
    }
    return chord_vocabulary(request.scale);
}

}  // namespace

ChordRequest request_for(const notation::Melody& melody, std::span<const Lock> locks) {
    ChordRequest request;
    request.notes = melody.notes;
    request.ticks = melody.ticks;
    request.rests = melody.rests;
    request.scale = mode_pitch_classes(melody.mode);
    request.locks = locks;
    return request;
}

int slot_count(const ChordRequest& request) {
    const std::size_t n = std::min(request.notes.size(), request.ticks.size());
    std::int64_t total = 0;
    for (std::size_t i = 0; i < n; ++i)
        total += std::max(request.ticks[i], 0) + rest_at(request, i);
    total = std::min<std::int64_t>(total, notation::kMaxScoreTicks);
    return static_cast<int>((total + kSlotTicks - 1) / kSlotTicks);
}

std::vector<Chord> slot_candidates(const ChordRequest& request, int slot) {
    const int slots = slot_count(request);
    const auto locked = locked_slots(request, slots);
    if (slot < 0 || slot >= slots) return {};
    return candidates(request, slot, slots, locked[static_cast<std::size_t>(slot)]);
}

Cost sequence_cost(const ChordRequest& request, std::span<const Chord> chords) {
    const int slots = static_cast<int>(chords.size());
    const auto segments = slot_segments(request, slots);
    const ChordWeights& w = request.weights;
    Cost cost = 0;
    int run = 0;
    for (int k = 0; k < slots; ++k) {
        const Chord c = chords[static_cast<std::size_t>(k)];
        cost += fit(segments[static_cast<std::size_t>(k)], c, w) + prior(c, w);
        if (k > 0 && chords[static_cast<std::size_t>(k) - 1] == c) {
            run = std::min(run + 1, kRuns);
        } else {
            if (k > 0) cost += transition(chords[static_cast<std::size_t>(k) - 1], c, k, w);
            run = 1;
        }
        cost += run_cost(run, w);
    }
    return cost;
}

Harmony choose_chords(const ChordRequest& request) {
    Harmony result;
    const int slots = slot_count(request);
    if (slots == 0 || request.scale.pcs == 0) return result;
    const ChordWeights& w = request.weights;
    const auto segments = slot_segments(request, slots);
    const auto locked = locked_slots(request, slots);
    const std::vector<Chord> vocabulary = chord_vocabulary(request.scale);
    const std::size_t n = std::min(request.notes.size(), request.ticks.size());
    std::vector<Chord> final_chords = chords_on(request.scale, request.notes[n - 1]);
    if (final_chords.empty()) final_chords = vocabulary;

    // The candidates of a slot, without copying the vocabulary for each.
    const auto candidates_of = [&](int k, Chord& single) -> std::span<const Chord> {
        if (const Chord* lock = locked[static_cast<std::size_t>(k)]) {
            single = *lock;
            return {&single, 1};
        }
        return k == slots - 1 ? std::span<const Chord>(final_chords)
                              : std::span<const Chord>(vocabulary);
    };
    const std::size_t width = std::max(vocabulary.size(), final_chords.size()) * kRunStates;

    // cost[j * kRunStates + r]: the best sequence ending at this slot in candidate j, run r + 1;
    // back[k * width + state]: the state of slot k - 1 it came from.
    std::vector<std::uint16_t> back(static_cast<std::size_t>(slots) * width, 0);
    std::vector<Cost> prev_cost, cost;
    std::vector<Cost> best_prev;
    std::vector<std::uint16_t> best_prev_state;
    Chord prev_single, cur_single;
    std::span<const Chord> prev_cands;
    for (int k = 0; k < slots; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        const std::span<const Chord> cur = candidates_of(k, cur_single);
        std::uint16_t* from_state = back.data() + uk * width;
        cost.assign(cur.size() * kRunStates, kInfinite);
        // The best state of each previous chord over its runs.
        best_prev.assign(prev_cands.size(), kInfinite);
        best_prev_state.assign(prev_cands.size(), 0);
        for (std::size_t i = 0; i < prev_cands.size(); ++i) {
            for (std::size_t r = 0; r < kRunStates; ++r) {
                const Cost c = prev_cost[i * kRunStates + r];
                if (c < best_prev[i]) {
                    best_prev[i] = c;
                    best_prev_state[i] = static_cast<std::uint16_t>(i * kRunStates + r);
                }
            }
        }
        for (std::size_t j = 0; j < cur.size(); ++j) {
            const Cost here = fit(segments[uk], cur[j], w) + prior(cur[j], w);
            if (k == 0) {
                cost[j * kRunStates] = here + run_cost(1, w);
                continue;
            }
            // A change: from the best state of any other chord.
            Cost best = kInfinite;
            std::uint16_t from = 0;
            for (std::size_t i = 0; i < prev_cands.size(); ++i) {
                if (prev_cands[i] == cur[j] || best_prev[i] >= kInfinite) continue;
                const Cost c = best_prev[i] + transition(prev_cands[i], cur[j], k, w);
                if (c < best) {
                    best = c;
                    from = best_prev_state[i];
                }
            }
            if (best < kInfinite) {
                cost[j * kRunStates] = best + here + run_cost(1, w);
                from_state[j * kRunStates] = from;
            }
            // A hold: the same chord one slot longer.
            for (std::size_t i = 0; i < prev_cands.size(); ++i) {
                if (!(prev_cands[i] == cur[j])) continue;
                for (std::size_t r = 0; r < kRunStates; ++r) {
                    const Cost c = prev_cost[i * kRunStates + r];
                    if (c >= kInfinite) continue;
                    const int run = std::min(static_cast<int>(r) + 2, kRuns);
                    const std::size_t to = j * kRunStates + static_cast<std::size_t>(run - 1);
                    const Cost total = c + here + run_cost(run, w);
                    if (total < cost[to]) {
                        cost[to] = total;
                        from_state[to] = static_cast<std::uint16_t>(i * kRunStates + r);
                    }
                }
            }
        }
        prev_single = cur_single;
        prev_cands = cur.data() == &cur_single ? std::span<const Chord>(&prev_single, 1) : cur;
        std::swap(prev_cost, cost);
    }

    std::size_t state = 0;
    for (std::size_t s = 1; s < prev_cost.size(); ++s)
        if (prev_cost[s] < prev_cost[state]) state = s;
    result.cost = prev_cost[state];
    result.chords.resize(static_cast<std::size_t>(slots));
    for (int k = slots - 1; k >= 0; --k) {
        const auto uk = static_cast<std::size_t>(k);
        Chord single;
        result.chords[uk] = candidates_of(k, single)[state / kRunStates];
        state = back[uk * width + state];
    }
    return result;
}

Harmony choose_chords_near(const ChordRequest& request, const Harmony& previous,
                           std::int64_t from_tick, std::int64_t to_tick, int max_changed) {
    const int slots = slot_count(request);
    const std::int64_t first = std::max<std::int64_t>(from_tick, 0) / kSlotTicks;
    const std::int64_t last =
        std::min<std::int64_t>({(std::max(to_tick, from_tick + 1) - 1) / kSlotTicks,
                                first + max_changed - 1, static_cast<std::int64_t>(slots) - 1});
    // Every slot outside the edit keeps its chord: a lock of its own, below the
    // request's locks, which win where they fall.
    std::vector<Lock> locks;
    for (int k = 0; k < slots && static_cast<std::size_t>(k) < previous.chords.size(); ++k)
        if (k < first || k > last)
            locks.push_back({k, previous.chords[static_cast<std::size_t>(k)]});
    locks.insert(locks.end(), request.locks.begin(), request.locks.end());
    ChordRequest near = request;
    near.locks = locks;
    return choose_chords(near);
}

std::vector<Chord> chord_choices(const ChordRequest& request, const Harmony& current, int slot) {
    const int slots = static_cast<int>(current.chords.size());
    if (slot < 0 || slot >= slots) return {};
    const auto segments = slot_segments(request, slots);
    const ChordWeights& w = request.weights;
    std::vector<std::pair<Cost, Chord>> ranked;
    for (const Chord c : chord_vocabulary(request.scale)) {
        Cost cost = fit(segments[static_cast<std::size_t>(slot)], c, w) + prior(c, w);
        if (slot > 0) {
            const Chord before = current.chords[static_cast<std::size_t>(slot) - 1];
            if (!(before == c)) cost += transition(before, c, slot, w);
        }
        if (slot + 1 < slots) {
            const Chord after = current.chords[static_cast<std::size_t>(slot) + 1];
            if (!(after == c)) cost += transition(c, after, slot + 1, w);
        }
        ranked.emplace_back(cost, c);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Chord> chords;
    for (const auto& r : ranked) chords.push_back(r.second);
    return chords;
}

std::vector<ChordChange> chord_changes(const Harmony& harmony) {
    std::vector<ChordChange> changes;
    for (std::size_t k = 0; k < harmony.chords.size(); ++k) {
        if (k == 0 || !(harmony.chords[k] == harmony.chords[k - 1]))
            changes.push_back({static_cast<std::int64_t>(k) * kSlotTicks, harmony.chords[k]});
    }
    return changes;
}

}  // namespace quavella::harmony
