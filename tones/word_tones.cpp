// Word lookup over the generated tables of words, one table per word length.
#include "tones/word_tones.h"

#include <cstdint>
#include <cstring>

namespace quavella {
namespace {

#include "tones/word_tone_table.inc"

constexpr std::size_t kMinWord = 2, kMaxWord = 4;

/// One table: sorted records of a word's GBK bytes and its tone nibbles.
struct WordTable {
    const std::uint8_t* records;
    std::size_t count;
    std::size_t word_bytes;  // 2 per character
    std::size_t record_bytes;
};

constexpr WordTable table_of(const std::uint8_t* records, std::size_t count, std::size_t chars) {
    return WordTable{records, count, chars * 2, chars * 2 + (chars + 1) / 2};
}

constexpr WordTable kTables[] = {
    table_of(kWordTones2, kWords2, 2),
    table_of(kWordTones3, kWords3, 3),
    table_of(kWordTones4, kWords4, 4),
};

static_assert(sizeof kWordTones2 >= kWords2 * 5 && sizeof kWordTones3 >= kWords3 * 8 &&
                  sizeof kWordTones4 >= kWords4 * 10,
              "each table holds its records");

/// The tone nibbles of a word of `chars.size()` characters, or null when the
/// table has no such word.
const std::uint8_t* find_word(std::span<const std::string_view> chars) {
    const WordTable& table = kTables[chars.size() - kMinWord];
    std::uint8_t key[kMaxWord * 2];
    for (std::size_t k = 0; k < chars.size(); ++k) {
        if (chars[k].size() != 2) return nullptr;
        std::memcpy(key + k * 2, chars[k].data(), 2);
    }
    std::size_t low = 0, high = table.count;
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        const std::uint8_t* record = table.records + mid * table.record_bytes;
        const int order = std::memcmp(record, key, table.word_bytes);
        if (order == 0) return record + table.word_bytes;
        if (order < 0) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return nullptr;
}

Tone nibble(const std::uint8_t* tones, std::size_t k) {
    return static_cast<Tone>((tones[k / 2] >> (k % 2 * 4)) & 0x0F);
}

}  // namespace

std::vector<WordTone> word_tones(std::span<const std::string_view> chars) {
    std::vector<WordTone> out(chars.size());
    // The word that reads each character so far: the longest, then the first.
    std::vector<std::size_t> size(chars.size(), 0);
    for (std::size_t first = 0; first < chars.size(); ++first) {
        for (std::size_t len = kMinWord; len <= kMaxWord && first + len <= chars.size(); ++len) {
            const std::uint8_t* tones = find_word(chars.subspan(first, len));
            if (tones == nullptr) continue;
            for (std::size_t k = 0; k < len; ++k) {
                const std::size_t at = first + k;
                if (len <= size[at]) continue;  // a longer or earlier word reads it
                size[at] = len;
                const Tone tone = nibble(tones, k);
                out[at] = tone == Tone::none ? WordTone{} : WordTone{tone, first, len};
            }
        }
    }
    return out;
}

}  // namespace quavella
