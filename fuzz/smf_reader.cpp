// Strict Standard MIDI File reader for the fuzz targets.
#include "fuzz/smf_reader.h"

#include <cstddef>

namespace quavella::fuzz {

namespace {

class Cursor {
public:
    Cursor(std::string_view bytes, std::size_t begin, std::size_t end)
        : b_(bytes), pos_(begin), end_(end) {}

    bool at_end() const { return pos_ == end_; }
    std::size_t pos() const { return pos_; }
    bool take(std::uint8_t& v) {
        if (pos_ >= end_) return false;
        v = static_cast<std::uint8_t>(b_[pos_++]);
        return true;
    }
    bool peek(std::uint8_t& v) const {
        if (pos_ >= end_) return false;
        v = static_cast<std::uint8_t>(b_[pos_]);
        return true;
    }
    bool take_be(int n, std::uint32_t& v) {
        v = 0;
        for (int i = 0; i < n; ++i) {
            std::uint8_t c;
            if (!take(c)) return false;
            v = (v << 8) | c;
        }
        return true;
    }
    // A variable-length quantity of one to four bytes.
    bool take_varlen(std::uint32_t& v) {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t c;
            if (!take(c)) return false;
            v = (v << 7) | (c & 0x7Fu);
            if ((c & 0x80u) == 0) return true;
        }
        return false;
    }

private:
    std::string_view b_;
    std::size_t pos_;
    std::size_t end_;
};

int channel_data_bytes(std::uint8_t status) {
    const int kind = status >> 4;
    return kind == 0xC || kind == 0xD ? 1 : 2;
}

bool read_track(std::string_view bytes, std::size_t begin, std::size_t end,
                std::vector<SmfEvent>& events, std::string& why) {
    Cursor c(bytes, begin, end);
    std::uint32_t tick = 0;
    int running = -1;
    bool ended = false;
    while (!c.at_end()) {
        if (ended) {
            why = "bytes after the end-of-track event";
            return false;
        }
        std::uint32_t delta;
        if (!c.take_varlen(delta)) {
            why = "bad delta time";
            return false;
        }
        if (delta > 0xFFFFFFFFu - tick) {
            why = "track time overflows";
            return false;
        }
        tick += delta;
        std::uint8_t first;
        if (!c.peek(first)) {
            why = "delta time without an event";
            return false;
        }
        SmfEvent ev;
        ev.tick = tick;
        if (first < 0x80) {
            if (running < 0) {
                why = "running status without a previous channel status";
                return false;
            }
            ev.status = static_cast<std::uint8_t>(running);
        } else {
            c.take(ev.status);
        }
        if (ev.status < 0xF0) {
            running = ev.status;
            for (int i = 0; i < channel_data_bytes(ev.status); ++i) {
                std::uint8_t d;
                if (!c.take(d) || d >= 0x80) {
                    why = "bad channel data byte";
                    return false;
                }
                ev.data.push_back(d);
            }
        } else if (ev.status == 0xFF || ev.status == 0xF0 || ev.status == 0xF7) {
            running = -1;
            if (ev.status == 0xFF) {
                std::uint8_t type;
                if (!c.take(type) || type >= 0x80) {
                    why = "bad meta type";
                    return false;
                }
                ev.meta = type;
            }
            std::uint32_t len;
            if (!c.take_varlen(len)) {
                why = "bad event length";
                return false;
            }
            for (std::uint32_t i = 0; i < len; ++i) {
                std::uint8_t d;
                if (!c.take(d)) {
                    why = "event data past the chunk end";
                    return false;
                }
                ev.data.push_back(d);
            }
            if (ev.meta == 0x2F) {
                if (len != 0) {
                    why = "end-of-track event with data";
                    return false;
                }
                ended = true;
            }
        } else {
            why = "system status inside a track";
            return false;
        }
        events.push_back(std::move(ev));
    }
    if (!ended) {
        why = "track does not end with an end-of-track event";
        return false;
    }
    return true;
}

}  // namespace

std::optional<SmfFile> read_smf(std::string_view bytes, std::string& why) {
    Cursor c(bytes, 0, bytes.size());
    std::uint32_t v;
    SmfFile f;
    if (bytes.substr(0, 4) != "MThd") {
        why = "no MThd";
        return std::nullopt;
    }
    c = Cursor(bytes, 4, bytes.size());
    if (!c.take_be(4, v) || v != 6) {
        why = "header length is not 6";
        return std::nullopt;
    }
    std::uint32_t format, ntracks, division;
    if (!c.take_be(2, format) || !c.take_be(2, ntracks) || !c.take_be(2, division)) {
        why = "short header";
        return std::nullopt;
    }
    if (format > 2 || (format == 0 && ntracks != 1) || division == 0) {
        why = "bad format, track count or division";
        return std::nullopt;
    }
    f.format = static_cast<int>(format);
    f.ntracks = static_cast<int>(ntracks);
    f.division = static_cast<int>(division);
    std::size_t pos = 14;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 8 || bytes.substr(pos, 4) != "MTrk") {
            why = "expected an MTrk chunk";
            return std::nullopt;
        }
        Cursor lc(bytes, pos + 4, pos + 8);
        lc.take_be(4, v);
        if (v > bytes.size() - pos - 8) {
            why = "track length past the end of the file";
            return std::nullopt;
        }
        std::vector<SmfEvent> events;
        if (!read_track(bytes, pos + 8, pos + 8 + v, events, why)) return std::nullopt;
        f.tracks.push_back(std::move(events));
        pos += 8 + v;
    }
    if (f.tracks.size() != ntracks) {
        why = "header track count differs from the chunks";
        return std::nullopt;
    }
    return f;
}

}  // namespace quavella::fuzz
