// A sequence of notes kept in blocks, so that the single-note insertions of a
// growing sentence melody (at the front, the back or anywhere) stay cheap for
// melodies of tens of thousands of notes. Used by Song::build_stc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quavella {

/// Blocked list of notes with per-block lowest and highest value.
class NoteRope {
public:
    /// Holds a copy of `notes`.
    explicit NoteRope(const std::vector<std::int32_t>& notes);

    /// Number of notes held.
    std::size_t size() const { return size_; }
    /// The note at `pos` (pos < size()).
    std::int32_t at(std::size_t pos) const;
    /// Inserts `note` before position `pos` (pos <= size(); size() appends).
    void insert(std::size_t pos, std::int32_t note);
    /// The first note that differs from the first note, if any.
    std::optional<std::int32_t> first_differing_from_front() const;
    /// The last note that differs from the last note, if any.
    std::optional<std::int32_t> last_differing_from_back() const;
    /// All notes in order.
    std::vector<std::int32_t> to_vector() const;

private:
    struct Block {
        std::vector<std::int32_t> notes;
        std::int32_t lowest = 0;
        std::int32_t highest = 0;
    };

    /// Block index and offset inside it of position `pos` (pos < size()).
    std::pair<std::size_t, std::size_t> locate(std::size_t pos) const;
    static void measure(Block& block);
    void split(std::size_t index);

    // Blocks split in two once they reach this many notes.
    static constexpr std::size_t max_block = 1024;

    std::vector<Block> blocks_;
    std::size_t size_ = 0;
};

}  // namespace quavella
