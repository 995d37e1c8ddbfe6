// Standard MIDI File check (see smf_check.h).
#include "midi/smf_check.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace quavella {

namespace {

/// Ends the walk at the first fault.
struct Refused {
    SmfFault fault;
};

class Walker {
public:
    Walker(std::span<const unsigned char> b, SmfCheck& out) : b_(b), out_(out) {}

    void walk(int max_tracks) {
        // 1. The header chunk: "MThd", length 6, format, track count, division.
        if (b_.size() < 14 || std::memcmp(b_.data(), "MThd", 4) != 0) {
            throw Refused{SmfFault::not_midi};
        }
        if (be32(4) != 6) throw Refused{SmfFault::header_length};
        const unsigned format = be16(8);
        const unsigned ntracks = be16(10);
        const unsigned division = be16(12);
        if (format > 2) {
            out_.value = static_cast<int>(format);
            throw Refused{SmfFault::unknown_format};
        }
        if (ntracks == 0) throw Refused{SmfFault::no_tracks};
        if (ntracks > static_cast<unsigned>(max_tracks)) {
            out_.value = static_cast<int>(ntracks);
            throw Refused{SmfFault::too_many_tracks};
        }
        if (division & 0x8000u) throw Refused{SmfFault::smpte_division};
        if (division == 0) throw Refused{SmfFault::zero_division};

        // 2. The track chunks, one after the other. A reader that takes the tracks in
        // order cannot step over other chunks between them; after the last one, nothing
        // is read.
        std::size_t pos = 14;
        long total = 0;
        for (unsigned track = 1; track <= ntracks; ++track) {
            out_.track = static_cast<int>(track);
            if (pos + 8 > b_.size()) throw Refused{SmfFault::missing_track};
            if (std::memcmp(&b_[pos], "MTrk", 4) != 0) {
                out_.chunk.assign(b_.begin() + static_cast<long>(pos),
                                  b_.begin() + static_cast<long>(pos) + 4);
                for (char& c : out_.chunk) {
                    if (c < 0x20 || c > 0x7e) c = '?';
                }
                throw Refused{SmfFault::foreign_chunk};
            }
            const std::uint32_t len = be32(pos + 4);
            pos += 8;
            if (len > b_.size() - pos) throw Refused{SmfFault::chunk_past_end};
            total = std::max(total, track_ticks(pos, pos + len));
            pos += len;
        }
        out_.track = 0;
        out_.total_ticks = static_cast<int>(total);
    }

private:
    unsigned be16(std::size_t at) const { return (unsigned{b_[at]} << 8) | b_[at + 1]; }
    std::uint32_t be32(std::size_t at) const {
        return (std::uint32_t{b_[at]} << 24) | (std::uint32_t{b_[at + 1]} << 16) |
               (std::uint32_t{b_[at + 2]} << 8) | b_[at + 3];
    }

    unsigned byte(std::size_t& pos, std::size_t end) const {
        if (pos >= end) throw Refused{SmfFault::event_cut};
        return b_[pos++];
    }

    long varlen(std::size_t& pos, std::size_t end) const {
        long value = 0;
        for (int i = 0; i < 4; ++i) {
            const unsigned c = byte(pos, end);
            value = (value << 7) | (c & 0x7f);
            if ((c & 0x80) == 0) return value;
        }
        throw Refused{SmfFault::long_number};
    }

    // 3. The events of one track: a delta time, then a meta event (FF type length data),
    // a system exclusive event (F0 length data) or a channel event, whose status may be
    // left out to repeat the last one (running status).
    long track_ticks(std::size_t pos, std::size_t end) {
        long ticks = 0;
        unsigned running = 0;
        while (pos < end) {
            ticks += varlen(pos, end);
            if (ticks > INT_MAX) throw Refused{SmfFault::too_long};
            unsigned status = byte(pos, end);
            if ((status & 0x80) == 0) {
                if (running == 0) throw Refused{SmfFault::data_without_status};
                --pos;
                status = running;
            }
            if (status == 0xff) {
                const unsigned type = byte(pos, end);
                const long len = varlen(pos, end);
                if (len > static_cast<long>(end - pos)) throw Refused{SmfFault::meta_past_track};
                pos += static_cast<std::size_t>(len);
                if (type == 0x2f) return ticks;  // end of track: the rest is never read
            } else if (status == 0xf0) {
                const long len = varlen(pos, end);
                if (len > static_cast<long>(end - pos)) throw Refused{SmfFault::sysex_past_track};
                pos += static_cast<std::size_t>(len);
            } else if (status >= 0xf1) {
                throw Refused{SmfFault::unsupported_event};
            } else {
                running = status;
                channel_event(status, pos, end);
            }
        }
        return ticks;
    }

    void channel_event(unsigned status, std::size_t& pos, std::size_t end) {
        const unsigned kind = status & 0xf0;
        const unsigned channel = status & 0x0f;
        unsigned data[2] = {0, 0};
        const int count = (kind == 0xc0 || kind == 0xd0) ? 1 : 2;
        for (int i = 0; i < count; ++i) {
            data[i] = byte(pos, end);
            if (data[i] & 0x80) throw Refused{SmfFault::status_in_data};
        }
        if (kind == 0x90 && data[1] > 0) {
            out_.note_channels = static_cast<std::uint16_t>(out_.note_channels | (1u << channel));
        } else if (kind == 0xc0 && out_.first_program[channel] < 0) {
            out_.first_program[channel] = static_cast<int>(data[0]);
        }
    }

    std::span<const unsigned char> b_;
    SmfCheck& out_;
};

}  // namespace

int SmfCheck::melody_program() const {
    for (int channel = 0; channel < 16; ++channel) {
        if (note_channels & (1u << channel))
            return first_program[static_cast<std::size_t>(channel)];
    }
    return -1;
}

SmfCheck check_smf(std::span<const unsigned char> bytes, int max_tracks) {
    SmfCheck check;
    try {
        Walker(bytes, check).walk(max_tracks);
    } catch (const Refused& refused) {
        check.fault = refused.fault;
        check.total_ticks = 0;
    }
    return check;
}

std::string smf_fault_text(const SmfCheck& c) {
    const std::string track = "第 " + std::to_string(c.track) + " 条音轨";
    std::string what;
    switch (c.fault) {
        case SmfFault::none:
            return {};
        case SmfFault::not_midi:
            return "不是 MIDI 文件";
        case SmfFault::header_length:
            what = "文件头的长度不是 6";
            break;
        case SmfFault::unknown_format:
            what = "未知的格式 " + std::to_string(c.value);
            break;
        case SmfFault::no_tracks:
            what = "没有音轨";
            break;
        case SmfFault::too_many_tracks:
            what = "音轨太多（" + std::to_string(c.value) + " 条）";
            break;
        case SmfFault::smpte_division:
            what = "不支持 SMPTE 时间格式";
            break;
        case SmfFault::zero_division:
            what = "每拍的 tick 数为 0";
            break;
        case SmfFault::missing_track:
            what = "缺少" + track;
            break;
        case SmfFault::foreign_chunk:
            what = track + "之前有不支持的数据块“" + c.chunk + "”";
            break;
        case SmfFault::chunk_past_end:
            what = track + "超出了文件末尾";
            break;
        case SmfFault::event_cut:
            what = track + "在事件中间结束";
            break;
        case SmfFault::long_number:
            what = track + "中有超过 4 字节的可变长度数值";
            break;
        case SmfFault::data_without_status:
            what = track + "中有没有状态字节的数据";
            break;
        case SmfFault::meta_past_track:
            what = track + "中的元事件超出了音轨末尾";
            break;
        case SmfFault::sysex_past_track:
            what = track + "中的系统专用事件超出了音轨末尾";
            break;
        case SmfFault::unsupported_event:
            what = track + "中有不支持的事件";
            break;
        case SmfFault::status_in_data:
            what = track + "的通道事件中有状态字节";
            break;
        case SmfFault::too_long:
            what = track + "太长";
            break;
    }
    return "MIDI 文件已损坏：" + what;
}

}  // namespace quavella
