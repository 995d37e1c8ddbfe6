// Fuzz target: lyric input and analysis. The first byte picks the input
// encoding (UTF-8 or GBK), the rest is the raw lyric input, lines and all.
// Checks the shaped layout, the measures and, on small inputs, the shaping
// against the literal reference of the rules.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "lyrics/four_stc.h"
#include "lyrics/gbk_text.h"
#include "lyrics/lyric_scan.h"
#include "lyrics/paragraph.h"
#include "tests/lyrics/four_stc_reference.h"

namespace {

long syllables(const quavella::PhraseLayout& layout) {
    long n = 0;
    for (const auto v : layout) n += v > 0 ? v : 0;
    return n;
}

int count(const quavella::PhraseLayout& layout, std::int32_t v) {
    return static_cast<int>(std::count(layout.begin(), layout.end(), v));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quavella;
    fuzz::FuzzInput in(data, size);
    const LyricEncoding encoding = (in.byte() & 1) != 0 ? LyricEncoding::gbk : LyricEncoding::utf8;
    const std::string_view raw = in.rest();

    const GbkConversion text = lyric_text_from_input(raw, encoding);
    if (!text.ok) {
        FUZZ_CHECK(encoding == LyricEncoding::utf8, "GBK input is taken as it stands");
        FUZZ_CHECK(text.bad_offset < raw.size(), "bad offset %zu of %zu", text.bad_offset,
                   raw.size());
        return 0;
    }
    const std::string& gbk = text.gbk;
    FUZZ_CHECK(gbk.find('\n') == std::string::npos && gbk.find('\r') == std::string::npos,
               "line breaks left in the joined text");
    FUZZ_CHECK(tidy_lyric_text(gbk) == gbk, "the input path left something to tidy");

    // The stages one by one, as the analysis runs them.
    PhraseLayout merged = scan_lyrics(gbk);
    FUZZ_CHECK(!merged.empty() && merged.back() == STC_END, "scan must end with a sentence end");
    merge_runs(merged);
    const int s = count(merged, STC_END);
    const int z = count(merged, STC_PAUSE);

    const Paragraph paragraph(gbk);
    const PhraseLayout layout = paragraph.get_layout();
    FUZZ_CHECK(count(layout, STC_END) == 4 && layout.back() == STC_END,
               "the shaped layout holds %d sentence ends", count(layout, STC_END));
    FUZZ_CHECK(paragraph.get_stc_cnt() == 4, "stc_cnt %d", paragraph.get_stc_cnt());
    FUZZ_CHECK(paragraph.get_pause_cnt() == z, "pause_cnt %d, merged pauses %d",
               paragraph.get_pause_cnt(), z);
    long sum = 0;
    for (const auto v : layout) sum += v;
    FUZZ_CHECK(paragraph.get_val_sum() == sum, "val_sum %d, layout sum %ld",
               paragraph.get_val_sum(), sum);
    FUZZ_CHECK(paragraph.get_val_avg() == paragraph.get_val_sum() / 4, "val_avg %d",
               paragraph.get_val_avg());
    FUZZ_CHECK(syllables(layout) == syllables(merged), "shaping changed the syllables: %ld to %ld",
               syllables(merged), syllables(layout));
    for (const auto v : layout) FUZZ_CHECK(v >= STC_END, "layout value %d", v);

    // Small inputs: the fast shaping agrees with the rules applied literally.
    if (merged.size() <= 64) {
        PhraseLayout plain = merged;
        FUZZ_CHECK(reference::fit(plain, s, z) >= 0, "reference found no promotion candidate");
        FUZZ_CHECK(plain == layout, "shaping differs from the literal rules");
    }
    return 0;
}
