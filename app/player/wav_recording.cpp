// A growing WAV file (see wav_recording.h).
#include "app/player/wav_recording.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quavella {

namespace {

void put_le(unsigned char* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::string reason(int error_number) {
    return error_number != 0 ? std::strerror(error_number) : "Unknown error code";
}

}  // namespace

WavRecording::WavRecording(const std::string& file_name, int sample_rate) {
    errno = 0;
    file_.reset(std::fopen(file_name.c_str(), "wb"));
    if (!file_) throw std::runtime_error(reason(errno));
    // RIFF header, "fmt " chunk (PCM, 2 channels, 16 bits), "data" chunk of 0 bytes so far.
    unsigned char header[44] = {'R', 'I', 'F', 'F', 0,   0,   0,   0, 'W', 'A', 'V',
                                'E', 'f', 'm', 't', ' ', 16,  0,   0, 0,   1,   0,
                                2,   0,   0,   0,   0,   0,   0,   0, 0,   0,   4,
                                0,   16,  0,   'd', 'a', 't', 'a', 0, 0,   0,   0};
    put_le(header + 24, static_cast<std::uint32_t>(sample_rate), 4);
    put_le(header + 28, static_cast<std::uint32_t>(sample_rate) * 4, 4);
    errno = 0;
    if (std::fwrite(header, 1, sizeof header, file_.get()) != sizeof header) fail(errno);
    update();
    if (!error_.empty()) throw std::runtime_error(error_);
}

void WavRecording::fail(int error_number) {
    if (error_.empty()) error_ = reason(error_number);
}

void WavRecording::append(const std::int16_t* samples, int frames) {
    if (!error_.empty() || !file_ || frames <= 0) return;
    // Little-endian on every machine this runs on; the bytes are written as they lie.
    errno = 0;
    const std::size_t written =
        std::fwrite(samples, 4, static_cast<std::size_t>(frames), file_.get());
    data_bytes_ += static_cast<std::uint32_t>(written * 4);
    if (written != static_cast<std::size_t>(frames)) fail(errno);
}

void WavRecording::update() {
    if (!error_.empty() || !file_) return;
    std::FILE* f = file_.get();
    unsigned char size[4];
    errno = 0;
    const long end = std::ftell(f);
    if (end < 0) return fail(errno);
    put_le(size, 36 + data_bytes_, 4);
    if (std::fseek(f, 4, SEEK_SET) != 0 || std::fwrite(size, 1, 4, f) != 4) return fail(errno);
    put_le(size, data_bytes_, 4);
    if (std::fseek(f, 40, SEEK_SET) != 0 || std::fwrite(size, 1, 4, f) != 4) return fail(errno);
    if (std::fseek(f, end, SEEK_SET) != 0 || std::fflush(f) != 0) return fail(errno);
}

bool WavRecording::finish() {
    if (!file_) return error_.empty();
    update();
    errno = 0;
    if (std::fclose(file_.release()) != 0) fail(errno);
    return error_.empty();
}

}  // namespace quavella
