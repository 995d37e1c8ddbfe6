// Fuzz target: the history store against a plain in-memory model. The input is
// a sequence of operations (record, list, get, delete, count, close and open
// again), each with its own bytes: recorded compositions carry fuzz-chosen
// lyrics, settings, generator states, notes, syllables and file bytes. After
// every operation the store agrees with the model: the ids it gives, the order
// of its lists, and every field of every entry byte for byte.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "history/store.h"
#include "lyrics/gbk_text.h"

namespace {

using quavella::fuzz::FuzzInput;
using namespace quavella::history;

constexpr int kMaxOps = 32;

/// A fresh directory per input, memory-backed where the system has it; removed
/// with everything in it when the input is done.
class ScratchDir {
public:
    ScratchDir() {
        const char* tmp = std::getenv("TMPDIR");
        const std::string base = access("/dev/shm", W_OK) == 0    ? "/dev/shm"
                                 : tmp != nullptr && *tmp != '\0' ? tmp
                                                                  : "/tmp";
        std::string pattern = base + "/quavella-fuzz-history-XXXXXX";
        FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr, "cannot make a directory under %s",
                   base.c_str());
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::string bytes(FuzzInput& in, int max) {
    std::string s(static_cast<std::size_t>(in.below(max + 1)), '\0');
    for (char& c : s) c = static_cast<char>(in.byte());
    return s;
}

std::vector<int> numbers(FuzzInput& in, std::size_t count, int usual) {
    std::vector<int> v(count);
    // Mostly MIDI keys and tick counts; now and then any 32-bit number.
    for (int& n : v) n = in.below(8) == 0 ? static_cast<int>(in.number(4)) : in.below(usual);
    return v;
}

std::optional<double> tone_score(FuzzInput& in) {
    switch (in.below(3)) {
        case 0:
            return std::nullopt;
        case 1:
            return in.byte() / 255.0;
        default: {
            // Any number the type holds; not-a-number is no score and is not stored.
            const double v = std::bit_cast<double>(in.number(8));
            if (std::isnan(v)) return std::nullopt;
            return v;
        }
    }
}

Record make_record(FuzzInput& in) {
    Record r;
    r.time_ms = static_cast<std::int64_t>(in.number(8));
    r.lyrics = bytes(in, 100);
    r.gbk_text = bytes(in, 48);
    r.speed_pos = in.below(4) - 1;
    r.mode_pos = in.below(5) - 1;
    r.timbre_pos = static_cast<int>(static_cast<std::int32_t>(in.number(in.below(5))));
    r.speed_item = bytes(in, 8);
    r.mode_item = bytes(in, 8);
    r.timbre_item = bytes(in, 8);
    r.tempo = 100 + in.byte();
    r.mode = in.below(4);
    r.program = in.below(8) == 0 ? in.byte() : in.below(128);
    r.state.s = in.number(8);
    r.state.t = static_cast<std::uint32_t>(in.number(4));
    // Mostly rows the history can trust (as many durations and syllables as notes),
    // now and then counts that disagree.
    r.notes = numbers(in, static_cast<std::size_t>(in.below(13)), 128);
    const bool agree = in.below(8) != 0;
    r.ticks = numbers(in, agree ? r.notes.size() : static_cast<std::size_t>(in.below(13)), 2000);
    const int syllables = !agree             ? in.below(8)
                          : in.below(2) == 0 ? 0
                                             : static_cast<int>(r.notes.size());
    for (int k = 0; k < syllables; ++k) {
        quavella::notation::Lyric lyric;
        const int flags = in.byte();
        lyric.continuation = (flags & 1) != 0;
        lyric.pause_after = (flags & 2) != 0;
        lyric.sentence_end = (flags & 4) != 0;
        lyric.sentence = (flags & 0x38) == 0x38 ? static_cast<int>(in.number(4)) : flags >> 6;
        lyric.text = bytes(in, 6);
        r.syllables.push_back(std::move(lyric));
    }
    r.midi = bytes(in, 80);
    r.tone_score = tone_score(in);
    return r;
}

bool same_lyric(const quavella::notation::Lyric& a, const quavella::notation::Lyric& b) {
    return a.text == b.text && a.continuation == b.continuation && a.pause_after == b.pause_after &&
           a.sentence_end == b.sentence_end && a.sentence == b.sentence;
}

/// Names the first field that differs, or nullptr when the two are the same.
const char* differing_field(const Record& a, const Record& b) {
    if (a.time_ms != b.time_ms) return "time_ms";
    if (a.lyrics != b.lyrics) return "lyrics";
    if (a.gbk_text != b.gbk_text) return "gbk_text";
    if (a.speed_pos != b.speed_pos || a.mode_pos != b.mode_pos || a.timbre_pos != b.timbre_pos)
        return "positions";
    if (a.speed_item != b.speed_item || a.mode_item != b.mode_item ||
        a.timbre_item != b.timbre_item)
        return "items";
    if (a.tempo != b.tempo || a.mode != b.mode || a.program != b.program) return "settings";
    if (!(a.state == b.state)) return "state";
    if (a.notes != b.notes) return "notes";
    if (a.ticks != b.ticks) return "ticks";
    if (!std::equal(a.syllables.begin(), a.syllables.end(), b.syllables.begin(), b.syllables.end(),
                    same_lyric))
        return "syllables";
    if (a.midi != b.midi) return "midi";
    if (a.tone_score != b.tone_score) return "tone_score";
    return nullptr;
}

/// What a list shows of the lyrics: the first kLyricsStartChars characters. For
/// text that is not UTF-8 only that it starts the lyrics is promised.
void check_lyrics_start(const std::string& start, const std::string& lyrics) {
    FUZZ_CHECK(lyrics.compare(0, start.size(), start) == 0, "lyrics start is no prefix");
    if (quavella::find_invalid_utf8(lyrics) || lyrics.find('\0') != std::string::npos) return;
    std::size_t end = 0;
    for (int chars = 0; end < lyrics.size() && chars < Store::kLyricsStartChars; ++chars) {
        do ++end;
        while (end < lyrics.size() && (static_cast<unsigned char>(lyrics[end]) & 0xC0) == 0x80);
    }
    FUZZ_CHECK(start.size() == end, "lyrics start of %zu bytes, expected %zu", start.size(), end);
}

bool good(Status st) { return st == Status::ok; }

/// Whether a list shows the entry: rows it cannot trust are left out.
bool listed(const Record& r) {
    Summary s;
    s.tempo = r.tempo;
    s.note_count = static_cast<int>(r.notes.size());
    s.tone_score = r.tone_score;
    s.edits = r.edits;
    return !summary_fault(s);
}

class Checker {
public:
    explicit Checker(const std::filesystem::path& file) : file_(file) { reopen(); }

    void run(FuzzInput& in) {
        for (int op = 0; op < kMaxOps && !in.empty(); ++op) {
            switch (in.below(8)) {
                case 0:
                case 1:
                    record(in);
                    break;
                case 2:
                    list(in);
                    break;
                case 3:
                    get(pick_id(in));
                    break;
                case 4:
                    remove(pick_id(in));
                    break;
                case 5:
                    count();
                    break;
                default:
                    reopen();
                    check_all();
                    break;
            }
            check_ids();
        }
        reopen();
        check_all();
    }

private:
    /// An id of the model now and then, or one that was deleted or never given.
    std::int64_t pick_id(FuzzInput& in) {
        const int choice = in.byte();
        if (!model_.empty() && choice < 192) {
            auto it = model_.begin();
            std::advance(it, choice % static_cast<int>(model_.size()));
            return it->first;
        }
        if (choice == 255) return std::numeric_limits<std::int64_t>::max();
        return choice % (next_id_ + 2) - 1;
    }

    void reopen() {
        store_.reset();  // closes the database
        store_ = std::make_unique<Store>(file_);
        if (open_ % 2 == 0) {
            const Status st = store_->open();
            FUZZ_CHECK(good(st), "open: %s", store_->last_error().c_str());
            FUZZ_CHECK(store_->is_open(), "open store reports closed");
        }
        ++open_;
    }

    void record(FuzzInput& in) {
        const Record r = make_record(in);
        std::int64_t id = -1;
        const Status st = store_->record(r, id);
        FUZZ_CHECK(good(st), "record: %s", store_->last_error().c_str());
        // Ids go up and are never given twice, not even after the newest was deleted.
        FUZZ_CHECK(id == next_id_, "recorded as %lld, expected %lld", static_cast<long long>(id),
                   static_cast<long long>(next_id_));
        model_.emplace(id, r);
        ++next_id_;
    }

    void list(FuzzInput& in) {
        const int limit = in.below(7) - 1;
        const int choice = in.byte();
        const std::int64_t before =
            choice < 128 ? std::numeric_limits<std::int64_t>::max() : choice % (next_id_ + 2);
        std::vector<Summary> got;
        const Status st = store_->list(got, limit, before);
        FUZZ_CHECK(good(st), "list: %s", store_->last_error().c_str());
        // The page holds `limit` rows, those it cannot trust left out.
        std::vector<std::int64_t> expected;
        int rows = 0;
        for (auto it = model_.rbegin(); it != model_.rend(); ++it) {
            if (it->first >= before) continue;
            if (limit > 0 && rows == limit) break;
            ++rows;
            if (listed(it->second)) expected.push_back(it->first);
        }
        FUZZ_CHECK(got.size() == expected.size(), "list(%d, %lld) gave %zu entries, expected %zu",
                   limit, static_cast<long long>(before), got.size(), expected.size());
        for (std::size_t k = 0; k < got.size(); ++k) {
            const Summary& s = got[k];
            FUZZ_CHECK(s.id == expected[k], "list entry %zu is %lld, expected %lld", k,
                       static_cast<long long>(s.id), static_cast<long long>(expected[k]));
            const Record& r = model_.at(s.id);
            FUZZ_CHECK(s.time_ms == r.time_ms && s.speed_pos == r.speed_pos &&
                           s.mode_pos == r.mode_pos && s.timbre_pos == r.timbre_pos &&
                           s.speed_item == r.speed_item && s.mode_item == r.mode_item &&
                           s.timbre_item == r.timbre_item && s.tempo == r.tempo &&
                           s.note_count == static_cast<int>(r.notes.size()) &&
                           s.tone_score == r.tone_score,
                       "summary of %lld differs from its record", static_cast<long long>(s.id));
            check_lyrics_start(s.lyrics_start, r.lyrics);
        }
    }

    void get(std::int64_t id) {
        Entry e;
        const Status st = store_->get(id, e);
        const auto it = model_.find(id);
        if (it == model_.end()) {
            FUZZ_CHECK(st == Status::not_found, "get of missing %lld: status %d",
                       static_cast<long long>(id), static_cast<int>(st));
            return;
        }
        if (record_fault(it->second)) {
            // A row it cannot trust is reported, never handed out.
            FUZZ_CHECK(st == Status::failed &&
                           store_->last_error().find("is not valid") != std::string::npos,
                       "get of invalid %lld: status %d (%s)", static_cast<long long>(id),
                       static_cast<int>(st), store_->last_error().c_str());
            return;
        }
        FUZZ_CHECK(good(st), "get %lld: %s", static_cast<long long>(id),
                   store_->last_error().c_str());
        FUZZ_CHECK(e.id == id, "get %lld gave entry %lld", static_cast<long long>(id),
                   static_cast<long long>(e.id));
        const char* field = differing_field(e.record, it->second);
        FUZZ_CHECK(field == nullptr, "entry %lld: %s does not read back as recorded",
                   static_cast<long long>(id), field);
    }

    void remove(std::int64_t id) {
        const Status st = store_->remove(id);
        const bool known = model_.erase(id) == 1;
        FUZZ_CHECK(st == (known ? Status::ok : Status::not_found), "delete %lld: status %d (%s)",
                   static_cast<long long>(id), static_cast<int>(st), store_->last_error().c_str());
        if (known) get(id);  // gone, syllables and all
    }

    void count() {
        std::int64_t n = -1;
        FUZZ_CHECK(good(store_->count(n)), "count: %s", store_->last_error().c_str());
        FUZZ_CHECK(n == static_cast<std::int64_t>(model_.size()), "count %lld, model holds %zu",
                   static_cast<long long>(n), model_.size());
    }

    /// The ids of a whole list, newest first.
    void check_ids() {
        std::vector<Summary> got;
        FUZZ_CHECK(good(store_->list(got, 0)), "list: %s", store_->last_error().c_str());
        std::vector<std::int64_t> expected;
        for (auto it = model_.rbegin(); it != model_.rend(); ++it) {
            if (listed(it->second)) expected.push_back(it->first);
        }
        FUZZ_CHECK(got.size() == expected.size(), "history lists %zu entries, model %zu",
                   got.size(), expected.size());
        for (std::size_t k = 0; k < got.size(); ++k) {
            FUZZ_CHECK(got[k].id == expected[k], "history lists %lld where the model has %lld",
                       static_cast<long long>(got[k].id), static_cast<long long>(expected[k]));
        }
    }

    /// Every entry read whole.
    void check_all() {
        count();
        for (const auto& [id, r] : model_) get(id);
    }

    std::filesystem::path file_;
    std::unique_ptr<Store> store_;
    std::map<std::int64_t, Record> model_;
    std::int64_t next_id_ = 1;
    int open_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const ScratchDir dir;
    const bool nested = (in.byte() & 1) != 0;  // the store makes missing directories
    Checker checker(nested ? dir.path() / "a" / "b" / "history.sqlite3"
                           : dir.path() / "history.sqlite3");
    checker.run(in);
    return 0;
}
