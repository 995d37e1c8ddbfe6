// Word scan and run merge of the lyric tokenizer.
#include "lyrics/lyric_scan.h"

#include <cstddef>
#include <cstdint>
#include <limits>

namespace quavella {
namespace {

constexpr std::int64_t kValMax = std::numeric_limits<std::int32_t>::max();

std::int32_t clamp_val(std::int64_t v) {
    return static_cast<std::int32_t>(v > kValMax ? kValMax : v);
}

bool is_high(unsigned char b) { return b >= 0x80; }

bool is_ascii_stc_mark(unsigned char b) {
    return b == ',' || b == '.' || b == ';' || b == '?' || b == '!';
}

/// True when the pair is one of the six double-byte sentence marks:
/// 。 (A1 A3), ， (A3 AC), ？ (A3 BF), ！ (A3 A1), ； (A3 BB), ： (A3 BA).
bool is_stc_mark(unsigned char first, unsigned char second) {
    if (first == 0xA1) return second == 0xA3;
    if (first == 0xA3) {
        return second == 0xAC || second == 0xBF || second == 0xA1 || second == 0xBB ||
               second == 0xBA;
    }
    return false;
}

/// True when the pair is a mark that neither ends nor splits a word:
/// ideographic space (A1 A1), － (A3 AD), 、 (A1 A2), ～ (A1 AB).
bool is_ignored_mark(unsigned char first, unsigned char second) {
    if (first == 0xA1) return second == 0xA1 || second == 0xA2 || second == 0xAB;
    return first == 0xA3 && second == 0xAD;
}

/// The scan state: the word buffer (only its length matters for the count),
/// the pending pair of high bytes, and the layout being written.
class LyricScanner {
public:
    /// @param words when not null, receives every flushed word with its end offset
    LyricScanner(std::string_view text, std::vector<ScannedWord>* words)
        : text_(text), words_(words) {}

    PhraseLayout run() {
        const std::size_t n = text_.size();
        for (std::size_t i = 0; i < n; ++i) {
            at_ = i;
            const auto b = static_cast<unsigned char>(text_[i]);
            // The byte before b decides how a word ended by b is counted.
            const unsigned char before = i > 0 ? static_cast<unsigned char>(text_[i - 1]) : 0;
            if (!is_high(b)) {
                on_ascii(b, before);
                continue;
            }
            pair_[pair_len_++] = b;
            if (pair_len_ == 2) {
                on_pair(before);
                pair_len_ = 0;
            }
        }
        // A word still open at the end is decided by the byte before the last
        // byte; a one-byte text has none, so its only byte decides.
        if (word_len_ > 0) {
            at_ = n;
            const std::size_t at = n >= 2 ? n - 2 : 0;
            flush_word(static_cast<unsigned char>(text_[at]));
        }
        // A lone high byte left in the pending pair is dropped.
        if (layout_.empty() || layout_.back() != STC_END) layout_.push_back(STC_END);
        return std::move(layout_);
    }

private:
    void on_ascii(unsigned char b, unsigned char before) {
        if (b == ' ') {
            if (word_len_ == 0) return;
            flush_word(before);
            // Only a word that ends in a high byte (Chinese text) makes a pause.
            if (is_high(before)) layout_.push_back(STC_PAUSE);
        } else if (is_ascii_stc_mark(b)) {
            if (word_len_ == 0) return;
            flush_word(before);
            layout_.push_back(STC_END);
        } else {
            // Letters, digits, other punctuation and control bytes all join the word.
            ++word_len_;
        }
    }

    void on_pair(unsigned char before) {
        if (is_stc_mark(pair_[0], pair_[1])) {
            if (word_len_ == 0) return;
            flush_word(before);
            layout_.push_back(STC_END);
        } else if (!is_ignored_mark(pair_[0], pair_[1])) {
            word_len_ += 2;
        }
    }

    /// Appends the count of the word buffer and empties it. A deciding byte
    /// below 0x80 counts by the single-byte rule (1, 2 or 3 by length),
    /// otherwise every two bytes are one syllable.
    void flush_word(unsigned char deciding) {
        std::int64_t cnt;
        if (!is_high(deciding)) {
            cnt = word_len_ <= 3 ? 1 : (word_len_ <= 6 ? 2 : 3);
        } else {
            cnt = static_cast<std::int64_t>(word_len_ / 2);
        }
        layout_.push_back(clamp_val(cnt));
        if (words_ != nullptr) words_->push_back({layout_.back(), at_});
        word_len_ = 0;
    }

    std::string_view text_;
    std::vector<ScannedWord>* words_;
    std::size_t at_ = 0;  // offset of the byte being scanned; the text's size after it
    PhraseLayout layout_;
    std::size_t word_len_ = 0;
    unsigned char pair_[2] = {0, 0};
    int pair_len_ = 0;
};

}  // namespace

PhraseLayout scan_lyrics(std::string_view gbk_text) {
    return LyricScanner(gbk_text, nullptr).run();
}

std::vector<ScannedWord> scan_words(std::string_view gbk_text) {
    std::vector<ScannedWord> words;
    LyricScanner(gbk_text, &words).run();
    return words;
}

void merge_runs(PhraseLayout& layout) {
    // The merged sequence is never longer than the input, so it is written
    // over the front of the same storage as the walk goes on.
    std::size_t out = 0;
    std::int64_t run = 0;
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const std::int32_t v = layout[i];
        if (v != STC_PAUSE && v != STC_END) {
            run += v;
            continue;
        }
        if (run != 0) {
            layout[out++] = clamp_val(run);
            run = 0;
        }
        layout[out++] = v;
    }
    layout.resize(out);
}

}  // namespace quavella
