// quavella-cli analyze: the phrase layout of the lyrics and its measures.

#include <iostream>
#include <span>
#include <string>
#include <variant>

#include "base/terminal_text.h"
#include "cli/cli_common.h"
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
