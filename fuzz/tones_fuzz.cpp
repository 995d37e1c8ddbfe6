// Fuzz target: the tone check. The first byte picks the input encoding (UTF-8
// or GBK) and whether best-of composing runs too, the next eight seed a random
// melody (and the composer), the rest is the raw lyric input. Checks the tone
// lookup, the tone changes, which pairs are graded and how the grading adds up,
// and that best-of keeps the first of the highest scores.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "composer/compose_request.h"
#include "composer/draws.h"
#include "composer/message_sink.h"
#include "composer/song.h"
#include "composition/best_of.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "lyrics/gbk_text.h"
#include "lyrics/syllables.h"
#include "tones/tone_changes.h"
#include "tones/tone_grading.h"
#include "tones/tone_table.h"

namespace {

using namespace quavella;

class NullSink : public MessageSink {
public:
    void show(const std::string&) override {}
};

/// The tone of a text read character by character: a byte below 0x80 alone, a
/// lead byte with the byte after it; the first pair with a reading counts.
Tone first_reading(std::string_view gbk) {
    for (std::size_t i = 0; i + 1 < gbk.size();) {
        const auto lead = static_cast<unsigned char>(gbk[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const Tone t = gbk_char_tone(lead, static_cast<unsigned char>(gbk[i + 1]));
        if (t != Tone::none) return t;
        i += 2;
    }
    return Tone::none;
}

bool contains_char(std::string_view gbk, std::string_view ch) {
    for (std::size_t i = 0; i + 1 < gbk.size();) {
        if (static_cast<unsigned char>(gbk[i]) < 0x80) {
            ++i;
            continue;
        }
        if (gbk.substr(i, 2) == ch) return true;
        i += 2;
    }
    return false;
}

/// A melody of `n` notes from a small generator: steps of up to an octave,
/// kept inside the MIDI range, so every grade comes up.
std::vector<std::int32_t> random_melody(std::size_t n, std::uint64_t seed) {
    std::vector<std::int32_t> notes;
    std::int32_t key = 60;
    for (std::size_t i = 0; i < n; ++i) {
        seed += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = seed;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        key = std::clamp<std::int32_t>(key + static_cast<std::int32_t>(z % 25) - 12, 0, 127);
        notes.push_back(key);
    }
    return notes;
}

/// The pairs a grading should hold: each sung syllable with a tone and the next
/// sung syllable of its sentence, when that has a tone too and no sentence end
/// (on the first or a continuation of it) comes between them.
std::vector<std::pair<std::size_t, std::size_t>> expected_pairs(const ToneCheck& check) {
    const auto& syl = check.syllables();
    const auto& tones = check.tones();
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    for (std::size_t a = 0; a < syl.size(); ++a) {
        if (syl[a].continuation || tones[a].sung == Tone::none) continue;
        std::size_t b = a + 1;
        bool ended = syl[a].sentence_end;
        for (; b < syl.size() && syl[b].continuation; ++b) ended = ended || syl[b].sentence_end;
        if (b == syl.size() || ended || syl[b].sentence != syl[a].sentence) continue;
        if (tones[b].sung != Tone::none) pairs.emplace_back(a, b);
    }
    return pairs;
}

void check_grading(const ToneCheck& check, const ToneGrading& grading,
                   const std::vector<std::int32_t>& notes) {
    const auto& syl = check.syllables();
    const auto& tones = check.tones();
    const auto expected = expected_pairs(check);
    FUZZ_CHECK(grading.pairs.size() == expected.size(), "%zu pairs graded, expected %zu",
               grading.pairs.size(), expected.size());
    std::array<int, 4> counts{};
    std::vector<TonePair> contrary;
    for (std::size_t k = 0; k < grading.pairs.size(); ++k) {
        const TonePair& p = grading.pairs[k];
        FUZZ_CHECK(p.first == expected[k].first && p.second == expected[k].second,
                   "pair %zu joins %zu-%zu, expected %zu-%zu", k, p.first, p.second,
                   expected[k].first, expected[k].second);
        FUZZ_CHECK(syl[p.first].sentence == syl[p.second].sentence, "pair %zu spans sentences", k);
        FUZZ_CHECK(p.first_tone == tones[p.first].sung && p.second_tone == tones[p.second].sung,
                   "pair %zu tones", k);
        // From the first syllable's last note (its continuations sing on).
        FUZZ_CHECK(p.interval == notes[p.second] - notes[p.second - 1], "pair %zu interval %d", k,
                   p.interval);
        FUZZ_CHECK(p.grade == grade_interval(p.first_tone, p.second_tone, p.interval),
                   "pair %zu grade", k);
        ++counts[static_cast<std::size_t>(p.grade)];
        if (p.grade == ToneGrade::contrary) contrary.push_back(p);
    }
    FUZZ_CHECK(grading.counts == counts, "counts differ from the pairs' grades");
    const int agreeing = counts[0] + counts[1];
    const int graded = grading.graded();
    FUZZ_CHECK(grading.agreeing() == agreeing, "agreeing %d, expected %d", grading.agreeing(),
               agreeing);
    const double score = grading.score();
    FUZZ_CHECK(score >= 0.0 && score <= 1.0, "score %g", score);
    FUZZ_CHECK(graded == 0 ? score == 0.0 : score == static_cast<double>(agreeing) / graded,
               "score %g for %d of %d", score, agreeing, graded);
    const int percent = grading.percent();
    FUZZ_CHECK(percent >= 0 && percent <= 100, "percent %d", percent);
    // Rounded to nearest: within half a percent of the exact share.
    FUZZ_CHECK(
        graded == 0 ? percent == 0 : std::abs(200 * agreeing - 2 * percent * graded) <= graded,
        "percent %d for %d of %d", percent, agreeing, graded);
    const auto listed = grading.contrary();
    FUZZ_CHECK(listed.size() == contrary.size(), "%zu contrary listed, %zu graded", listed.size(),
               contrary.size());
    for (std::size_t k = 0; k < listed.size(); ++k) {
        FUZZ_CHECK(listed[k].first == contrary[k].first && listed[k].second == contrary[k].second,
                   "contrary pair %zu", k);
    }
}

/// True when a/b > c/d for shares of graded pairs, nothing graded counting 0.
bool higher(const ToneGrading& x, const ToneGrading& y) {
    const long long xn = x.agreeing(), xd = std::max(x.graded(), 1);
    const long long yn = y.agreeing(), yd = std::max(y.graded(), 1);
    return xn * yd > yn * xd;
}

void check_best_of(std::string_view gbk, const ToneCheck& check, int count, std::uint64_t seed,
                   int speed, int mode, int timbre) {
    NullSink sink;
    Generators gens(seed);
    const Generators::State start = gens.state();
    auto source = std::make_shared<CompositionSource>();
    source->gbk_text = gbk;
    source->speed_pos = speed;
    source->mode_pos = mode;
    source->timbre_pos = timbre;
    std::vector<CompositionPtr> told;
    const BestOf best =
        compose_best_of(source, count, gens, sink,
                        [&](std::size_t, const CompositionPtr& c) { told.push_back(c); });
    FUZZ_CHECK(best.error.empty(), "%s", best.error.c_str());
    FUZZ_CHECK(best.candidates.size() == static_cast<std::size_t>(count) &&
                   told.size() == best.candidates.size(),
               "%zu candidates, %zu told of %d", best.candidates.size(), told.size(), count);

    // The same compositions one by one from the same start, graded directly.
    Generators again(seed);
    FUZZ_CHECK(again.state() == start, "seeding twice");
    std::vector<ToneGrading> gradings;
    for (int i = 0; i < count; ++i) {
        const Composition& c = *told[static_cast<std::size_t>(i)];
        const CandidateGrade& grade = best.candidates[static_cast<std::size_t>(i)];
        FUZZ_CHECK(c.state == again.state() && grade.state == c.state,
                   "candidate %d starts from another state", i);
        const ComposeOutcome out = compose_melody(gbk, speed, mode, timbre, again, sink);
        const std::vector<std::int32_t> notes(out.nt_seq.begin(), out.nt_seq.end());
        FUZZ_CHECK(
            notes == c.melody.notes &&
                std::vector<std::int32_t>(out.tm_seq.begin(), out.tm_seq.end()) == c.melody.ticks,
            "candidate %d is another melody", i);
        gradings.push_back(check.grade(notes));
        check_grading(check, c.tones, notes);
        FUZZ_CHECK(c.tones.counts == gradings.back().counts &&
                       grade.agreeing == gradings.back().agreeing() &&
                       grade.graded == gradings.back().graded(),
                   "candidate %d graded otherwise", i);
    }
    // The kept one: the first that no other candidate scores above.
    std::size_t winner = 0;
    while (std::any_of(gradings.begin(), gradings.end(),
                       [&](const ToneGrading& g) { return higher(g, gradings[winner]); })) {
        ++winner;
    }
    FUZZ_CHECK(best.best_index == winner && best.best == told[winner],
               "best-of kept candidate %zu, the first highest is %zu", best.best_index, winner);
    FUZZ_CHECK(gens.state() == again.state(),
               "best-of leaves the generators elsewhere than %d requests would", count);

    // Its bytes are the file of a single request from the winner's state, made by the
    // Song's road (composer and writer) rather than the composition's.
    Generators single(seed);
    single.restore(best.candidates[winner].state);
    const ComposeOutcome written = compose_melody(gbk, speed, mode, timbre, single, sink);
    const CompositionFile file =
        composition_file(written.tempo, written.program, written.nt_seq, written.tm_seq);
    FUZZ_CHECK(file.error.empty(), "%s", file.error.c_str());
    FUZZ_CHECK(best.best->midi == file.bytes,
               "best-of made other bytes than the file of a single request");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    const int flags = in.byte();
    const LyricEncoding encoding = (flags & 1) != 0 ? LyricEncoding::gbk : LyricEncoding::utf8;
    const int best_of = (flags >> 1) & 3;  // 0: no best-of; else 1..3 candidates
    const int speed = (flags >> 3) % 3;
    const int mode = (flags >> 5) & 3;
    const std::uint64_t seed = in.number(8);
    const std::string_view raw = in.rest();
    if (raw.size() > 4096) return 0;

    const GbkConversion text = lyric_text_from_input(raw, encoding);
    if (!text.ok) return 0;
    const std::string& gbk = text.gbk;

    const std::vector<SyllableText> syllables = syllable_texts(gbk);
    const ToneCheck check(syllables);
    FUZZ_CHECK(
        check.syllables().size() == syllables.size() && check.tones().size() == syllables.size(),
        "%zu syllables, %zu tones for %zu texts", check.syllables().size(), check.tones().size(),
        syllables.size());

    // The lookup and the tone changes, syllable by syllable.
    static constexpr std::string_view kYi = "\xD2\xBB", kBu = "\xB2\xBB";
    for (std::size_t i = 0; i < syllables.size(); ++i) {
        const SyllableText& s = syllables[i];
        const SyllableTone& t = check.tones()[i];
        FUZZ_CHECK(text_tone(s.text) == first_reading(s.text), "text_tone of syllable %zu", i);
        const Tone citation = s.continuation ? Tone::none : text_tone(s.text);
        // A word gives a character with a reading another tone, and holds it.
        if (t.word.empty()) {
            FUZZ_CHECK(t.citation == citation, "citation tone of syllable %zu", i);
        } else {
            FUZZ_CHECK(citation != Tone::none && t.citation != Tone::none &&
                           t.word.size() % 2 == 0 && t.word.size() >= 4 && t.word.size() <= 8,
                       "word reading of syllable %zu", i);
        }
        FUZZ_CHECK((t.sung == Tone::none) == (t.citation == Tone::none),
                   "syllable %zu gained or lost its tone", i);
        if (t.sung != t.citation) {
            // Only 一 and 不 change freely; otherwise a third before a third rises.
            const bool yi_bu = contains_char(s.text, kYi) || contains_char(s.text, kBu);
            FUZZ_CHECK(yi_bu || (t.citation == Tone::third && t.sung == Tone::second),
                       "syllable %zu changed from %d to %d", i, static_cast<int>(t.citation),
                       static_cast<int>(t.sung));
        }
        // Latin words, digits and marks are never graded.
        const bool chinese =
            std::any_of(s.text.begin(), s.text.end(), [](char c) { return (c & 0x80) != 0; });
        if (!chinese)
            FUZZ_CHECK(t.sung == Tone::none, "syllable %zu without a character has a tone", i);
    }

    const std::vector<std::int32_t> notes = random_melody(syllables.size(), seed);
    const ToneGrading grading = check.grade(notes);
    FUZZ_CHECK(check.syllables().size() == syllables.size(), "grading changed the syllables");
    check_grading(check, grading, notes);
    // A melody of another length is turned away.
    bool refused = false;
    try {
        std::vector<std::int32_t> longer = notes;
        longer.push_back(60);
        (void)check.grade(longer);
    } catch (const std::invalid_argument&) {
        refused = true;
    }
    FUZZ_CHECK(refused, "a melody one note too long was graded");

    if (best_of > 0 && gbk.size() <= 256) {
        check_best_of(gbk, check, best_of, seed, speed, mode, static_cast<int>(seed % 10));
    }
    return 0;
}
