// Blocked note list of the sentence melody builder.
#include "composer/note_rope.h"

#include <algorithm>
#include <iterator>
#include <tuple>

namespace quavella {

NoteRope::NoteRope(const std::vector<std::int32_t>& notes) : size_(notes.size()) {
    for (std::size_t from = 0; from < notes.size(); from += max_block / 2) {
        const std::size_t to = std::min(notes.size(), from + max_block / 2);
        Block block;
        block.notes.assign(notes.begin() + static_cast<std::ptrdiff_t>(from),
                           notes.begin() + static_cast<std::ptrdiff_t>(to));
        measure(block);
        blocks_.push_back(std::move(block));
    }
}

void NoteRope::measure(Block& block) {
    const auto [lo, hi] = std::minmax_element(block.notes.begin(), block.notes.end());
    block.lowest = lo == block.notes.end() ? 0 : *lo;
    block.highest = hi == block.notes.end() ? 0 : *hi;
}

std::pair<std::size_t, std::size_t> NoteRope::locate(std::size_t pos) const {
    // Walk from whichever end is nearer.
    if (pos < size_ / 2) {
        for (std::size_t b = 0;; ++b) {
            const std::size_t n = blocks_[b].notes.size();
            if (pos < n) return {b, pos};
            pos -= n;
        }
    }
    std::size_t from_back = size_ - pos;  // 1 .. size_
    for (std::size_t b = blocks_.size(); b-- > 0;) {
        const std::size_t n = blocks_[b].notes.size();
        if (from_back <= n) return {b, n - from_back};
        from_back -= n;
    }
    return {0, 0};  // not reached for pos < size()
}

std::int32_t NoteRope::at(std::size_t pos) const {
    const auto [b, offset] = locate(pos);
    return blocks_[b].notes[offset];
}

void NoteRope::insert(std::size_t pos, std::int32_t note) {
    std::size_t b = 0;
    std::size_t offset = 0;
    if (blocks_.empty()) {
        blocks_.emplace_back();
        blocks_.back().lowest = note;
        blocks_.back().highest = note;
    } else if (pos == size_) {
        b = blocks_.size() - 1;
        offset = blocks_[b].notes.size();
    } else {
        std::tie(b, offset) = locate(pos);
    }
    Block& block = blocks_[b];
    if (block.notes.empty()) {
        block.lowest = note;
        block.highest = note;
    } else {
        block.lowest = std::min(block.lowest, note);
        block.highest = std::max(block.highest, note);
    }
    block.notes.insert(block.notes.begin() + static_cast<std::ptrdiff_t>(offset), note);
    ++size_;
    if (block.notes.size() >= max_block) split(b);
}

void NoteRope::split(std::size_t index) {
    Block upper;
    auto& notes = blocks_[index].notes;
    const auto middle = notes.begin() + static_cast<std::ptrdiff_t>(notes.size() / 2);
    upper.notes.assign(middle, notes.end());
    notes.erase(middle, notes.end());
    measure(blocks_[index]);
    measure(upper);
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(index) + 1, std::move(upper));
}

std::optional<std::int32_t> NoteRope::first_differing_from_front() const {
    if (size_ == 0) return std::nullopt;
    const std::int32_t first =
        blocks_.front().notes.empty() ? at(0) : blocks_.front().notes.front();
    for (const Block& block : blocks_) {
        if (block.notes.empty() || (block.lowest == first && block.highest == first)) continue;
        for (std::int32_t note : block.notes)
            if (note != first) return note;
    }
    return std::nullopt;
}

std::optional<std::int32_t> NoteRope::last_differing_from_back() const {
    if (size_ == 0) return std::nullopt;
    const std::int32_t last = at(size_ - 1);
    for (auto block = blocks_.rbegin(); block != blocks_.rend(); ++block) {
        if (block->notes.empty() || (block->lowest == last && block->highest == last)) continue;
        for (auto note = block->notes.rbegin(); note != block->notes.rend(); ++note)
            if (*note != last) return *note;
    }
    return std::nullopt;
}

std::vector<std::int32_t> NoteRope::to_vector() const {
    std::vector<std::int32_t> out;
    out.reserve(size_);
    for (const Block& block : blocks_)
        out.insert(out.end(), block.notes.begin(), block.notes.end());
    return out;
}

}  // namespace quavella
