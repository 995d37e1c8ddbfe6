// Hand-made syllable texts for the tone tests, written in UTF-8 and converted
// to GBK by the same glibc conversion the lyric input goes through.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "lyrics/gbk_text.h"
#include "lyrics/syllables.h"
#include "tests/support/row_name.h"

namespace quavella::test {

/// The syllable texts of sentences written in UTF-8: each Chinese character is
/// one syllable, "_" after a syllable adds a continuation note to it, a space
/// puts a pause after the syllable before it, and a word of ASCII letters is
/// one syllable. The last syllable (or continuation) of each sentence ends it.
inline std::vector<SyllableText> syllables_of(const std::vector<std::string>& sentences) {
    std::vector<SyllableText> out;
    for (std::size_t s = 0; s < sentences.size(); ++s) {
        const GbkConversion gbk = utf8_to_gbk(sentences[s]);
        EXPECT_TRUE(gbk.ok) << sentences[s];
        const std::string& text = gbk.gbk;
        for (std::size_t i = 0; i < text.size();) {
            SyllableText syl;
            syl.sentence = static_cast<int>(s);
            const auto byte = static_cast<unsigned char>(text[i]);
            if (text[i] == ' ') {
                if (!out.empty()) out.back().pause_after = true;
                ++i;
                continue;
            }
            if (text[i] == '_') {
                syl.continuation = true;
                ++i;
            } else if (byte >= 0x80) {
                syl.text = text.substr(i, 2);
                i += 2;
            } else {
                std::size_t end = i;
                while (end < text.size() && std::isalpha(static_cast<unsigned char>(text[end]))) {
                    ++end;
                }
                if (end == i) end = i + 1;
                syl.text = text.substr(i, end - i);
                i = end;
            }
            out.push_back(syl);
        }
        if (!out.empty()) out.back().sentence_end = true;
    }
    return out;
}

}  // namespace quavella::test
