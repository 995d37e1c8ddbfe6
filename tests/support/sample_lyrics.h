// The lyrics of samples/ for tests and benchmarks, in GBK: one sample with its lines joined
// as the lyric box joins them, or the samples one after another up to a length. A target
// that includes it defines QUAVELLA_SAMPLES_DIR.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "lyrics/gbk_text.h"
#include "tests/support/files.h"

namespace quavella::test {

/// The lyrics of sample `name`, lines joined as the lyric box joins them, in GBK.
inline std::string sample_gbk(const std::string& name) {
    std::string text = read_file(std::filesystem::path(QUAVELLA_SAMPLES_DIR) / name);
    std::erase(text, '\n');
    return utf8_to_gbk(text).gbk;
}

/// About `characters` characters of lyrics: the four quatrains one after another.
inline std::string long_gbk(std::size_t characters) {
    const std::string one = sample_gbk("chunxiao.txt") + sample_gbk("jingyesi.txt") +
                            sample_gbk("xiangsi.txt") + sample_gbk("luzhai.txt");
    std::string text;
    while (text.size() < 2 * characters) text += one;
    return text;
}

}  // namespace quavella::test
