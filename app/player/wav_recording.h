// A WAV file that grows while it is written: 16-bit stereo frames are appended, and the
// header's sizes are brought up to date after each run of writing, so that the file is
// complete whenever nothing is being written. The player's "file" output records into it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace quavella {

class WavRecording {
public:
    /// Creates (or empties) `file_name` with the header of an empty recording.
    /// @throw std::runtime_error with the system's reason when the file cannot be written
    WavRecording(const std::string& file_name, int sample_rate);

    /// Appends `frames` frames of interleaved left and right samples. After a failed write
    /// nothing more is written; error() tells why.
    void append(const std::int16_t* samples, int frames);
    /// Writes the sizes into the header and hands everything written to the system.
    void update();
    /// Updates the header and closes the file; false (with error()) when any step failed.
    bool finish();
    /// The system's reason for the first failed write, seek or close; empty while all went well.
    const std::string& error() const { return error_; }

private:
    void fail(int error_number);

    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    std::uint32_t data_bytes_ = 0;
    std::string error_;
};

}  // namespace quavella
