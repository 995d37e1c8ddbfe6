// Test doubles for the composer: scripted draws, a message recorder and the
// probe that reaches the Song's private stages.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "composer/draws.h"
#include "composer/message_sink.h"
#include "composer/song.h"

namespace quavella {

/// Draws from a script; records every bound asked for, fails the test when the script runs dry.
class ScriptedDraws final : public DrawSource {
public:
    explicit ScriptedDraws(std::vector<int> randoms = {}, std::vector<std::uint32_t> shuffles = {})
        : randoms_(randoms.begin(), randoms.end()), shuffles_(shuffles.begin(), shuffles.end()) {}

    int random(int n) override {
        bounds.push_back(n);
        if (n <= 0) return 0;
        if (randoms_.empty()) {
            ADD_FAILURE() << "unexpected draw random(" << n << ")";
            return 0;
        }
        const int v = randoms_.front();
        randoms_.pop_front();
        return v;
    }
    std::uint32_t shuffle() override {
        ++shuffle_draws;
        if (shuffles_.empty()) {
            ADD_FAILURE() << "unexpected shuffle draw";
            return 0;
        }
        const std::uint32_t v = shuffles_.front();
        shuffles_.pop_front();
        return v;
    }
    bool exhausted() const { return randoms_.empty() && shuffles_.empty(); }

    std::vector<int> bounds;  ///< n of every random(n) call, in order
    int shuffle_draws = 0;

private:
    std::deque<int> randoms_;
    std::deque<std::uint32_t> shuffles_;
};

/// Wraps a real draw source and records the bound of every random(n) call.
class RecordingDraws final : public DrawSource {
public:
    explicit RecordingDraws(DrawSource& inner) : inner_(inner) {}
    int random(int n) override {
        bounds.push_back(n);
        return inner_.random(n);
    }
    std::uint32_t shuffle() override { return inner_.shuffle(); }
    std::vector<int> bounds;

private:
    DrawSource& inner_;
};

/// Keeps every message shown.
class RecordingSink final : public MessageSink {
public:
    void show(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

/// Reaches the private stages and fields of a Song.
struct SongProbe {
    static void split_stc(Song& s, const PhraseLayout& a) { s.split_stc(a); }
    static void mk_nt_area(Song& s) { s.mk_nt_area(); }
    static void make_nt_seq(Song& s) { s.make_nt_seq(); }
    static Sequence make_series(Song& s) { return s.make_series(); }
    static void build_all(Song& s) { s.build_all(); }
    static Sequence build_stc(Song& s, Sequence motif, Sequence stc) {
        return s.build_stc(std::move(motif), std::move(stc));
    }
    static void smooth_leaps(Song& s) { s.smooth_leaps(); }
    static void make_tm_seq(Song& s) { s.make_tm_seq(); }
    /// Runs every stage of compose() except the writing of the file.
    static void compose_sequences(Song& s, const PhraseLayout& a) {
        s.split_stc(a);
        s.mk_nt_area();
        s.make_nt_seq();
        s.build_all();
        s.smooth_leaps();
        s.nt_cnt = static_cast<int>(s.nt_seq_now.size());
        s.make_tm_seq();
    }

    static void set_area(Song& s, Sequence area) { s.nt_area = std::move(area); }
    static void set_pool(Song& s, int first_nt, int nt_range) {
        s.first_nt = first_nt;
        s.nt_range = nt_range;
    }
    static void set_melody(Song& s, Sequence notes) {
        s.nt_seq_now = std::move(notes);
        s.nt_cnt = static_cast<int>(s.nt_seq_now.size());
    }
    static void set_durations(Song& s, Sequence ticks) { s.tm_seq_now = std::move(ticks); }
    static void set_motifs(Song& s, std::array<Sequence, 4> motifs) {
        s.nt_motif = std::move(motifs);
    }
};

/// The seven-tone area (mode 3).
inline const Sequence& seven_tone_area() {
    static const Sequence area{55, 57, 59, 60, 62, 64, 65, 67, 69, 71, 72, 74, 76};
    return area;
}

}  // namespace quavella
