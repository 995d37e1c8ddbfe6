// quavella-cli analyze: the phrase layout of the lyrics and its measures.

#include <cstdint>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/terminal_text.h"
#include "cli/cli_common.h"
#include "cli/json_out.h"
#include "composer/compose_request.h"
#include "lyrics/gbk_text.h"
#include "lyrics/paragraph.h"
#include "lyrics/syllables.h"
#include "tones/tone_grading.h"
#include "tones/tone_report.h"

namespace quavella::cli {

/// analyze: prints the shaped layout and the measures of the lyrics.
int cmd_analyze(std::span<const std::string> args) {
    const auto parsed = quavella::cli::parse_analyze(args);
    if (const auto* refused = std::get_if<quavella::cli::UsageError>(&parsed)) {
        return usage_error(refused->message);
    }
    const auto& settings = std::get<quavella::cli::AnalyzeSettings>(parsed);

    const LyricText read = read_lyrics(settings.source);
    if (const Exit* failed = std::get_if<Exit>(&read)) return status(*failed);
    const quavella::GbkConversion& text = std::get<quavella::GbkConversion>(read);
    // Analysis applies no refusal, but left-out characters are named all the same.
    if (!text.dropped.empty()) {
        const quavella::LyricCheck check = quavella::check_lyrics(text);
        std::cerr << quavella::terminal_text(check.notice ? *check.notice : *check.refusal) << "\n";
    }

    const std::string& gbk = text.gbk;
    const quavella::Paragraph parag(gbk);
    if (settings.json) {
        const auto values = parag.get_layout();
        const std::vector<int> layout(values.begin(), values.end());
        JsonObject json;
        json.raw("layout", json_numbers(layout))
            .number("stc_cnt", parag.get_stc_cnt())
            .number("pause_cnt", parag.get_pause_cnt())
            .number("val_sum", parag.get_val_sum())
            .number("val_avg", parag.get_val_avg());
        if (settings.tones) {
            const quavella::ToneCheck check(quavella::syllable_texts(gbk));
            quavella::GbkToUtf8 to_utf8;
            std::vector<std::string> syllables;
            for (std::size_t i = 0; i < check.syllables().size(); ++i) {
                const quavella::SyllableText& s = check.syllables()[i];
                const quavella::SyllableTone& t = check.tones()[i];
                const auto tone = [](quavella::Tone value) -> std::optional<std::int64_t> {
                    if (value == quavella::Tone::none) return std::nullopt;
                    return static_cast<std::int64_t>(value);
                };
                syllables.push_back(JsonObject()
                                        .text("text", to_utf8(s.text))
                                        .boolean("continuation", s.continuation)
                                        .number("sentence", s.sentence + 1)
                                        .number_or_null("tone", tone(t.citation))
                                        .number_or_null("sung_tone", tone(t.sung))
                                        .text_or_null("word", to_utf8(t.word))
                                        .str());
            }
            json.raw("syllables", json_array(syllables));
        }
        std::cout << json.str() << "\n";
        return status(flush_output());
    }
    std::string line = "layout:";
    for (const auto v : parag.get_layout()) line += " " + std::to_string(v);
    std::cout << line << "\n"
              << "stc_cnt=" << parag.get_stc_cnt() << " pause_cnt=" << parag.get_pause_cnt()
              << " val_sum=" << parag.get_val_sum() << " val_avg=" << parag.get_val_avg() << "\n";
    if (settings.tones) {
        std::cout << quavella::terminal_text(
            quavella::tone_lines(quavella::ToneCheck(quavella::syllable_texts(gbk))), true);
    }
    return status(flush_output());
}

}  // namespace quavella::cli
