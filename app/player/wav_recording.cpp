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

}  // namespace

WavRecording::WavRecording(const std::string& file_name, int sample_rate) {
    errno = 0;
    file_.reset(std::fopen(file_name.c_str(), "wb"));
    if (!file_) throw std::runtime_error(errno != 0 ? std::strerror(errno) : "Unknown error code");
    // RIFF header, "fmt " chunk (PCM, 2 channels, 16 bits), "data" chunk of 0 bytes so far.
    unsigned char header[44] = {'R', 'I', 'F', 'F', 0,   0,   0,   0, 'W', 'A', 'V',
                                'E', 'f', 'm', 't', ' ', 16,  0,   0, 0,   1,   0,
                                2,   0,   0,   0,   0,   0,   0,   0, 0,   0,   4,
                                0,   16,  0,   'd', 'a', 't', 'a', 0, 0,   0,   0};
    put_le(header + 24, static_cast<std::uint32_t>(sample_rate), 4);
    put_le(header + 28, static_cast<std::uint32_t>(sample_rate) * 4, 4);
    std::fwrite(header, 1, sizeof header, file_.get());
    update();
}

void WavRecording::append(const std::int16_t* samples, int frames) {
    // Little-endian on every machine this runs on; the bytes are written as they lie.
    const std::size_t written =
        std::fwrite(samples, 4, static_cast<std::size_t>(frames), file_.get());
    data_bytes_ += static_cast<std::uint32_t>(written * 4);
}

void WavRecording::update() {
    unsigned char size[4];
    const long end = std::ftell(file_.get());
    put_le(size, 36 + data_bytes_, 4);
    std::fseek(file_.get(), 4, SEEK_SET);
    std::fwrite(size, 1, 4, file_.get());
    put_le(size, data_bytes_, 4);
    std::fseek(file_.get(), 40, SEEK_SET);
    std::fwrite(size, 1, 4, file_.get());
    std::fseek(file_.get(), end, SEEK_SET);
    std::fflush(file_.get());
}

}  // namespace quavella
