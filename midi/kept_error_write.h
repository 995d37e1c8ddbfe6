// A MIDI writer whose failures become a reason its owner returns, instead of lines
// on stderr: the composition file and the MIDI export with lyrics write through it.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "midi/midiio.h"

namespace quavella {

/// A MidiWrite that keeps the first error it reports in the owner's string; warnings
/// keep MidiWrite's default. Closes the file when destroyed.
class KeptErrorWrite final : public MidiWrite {
public:
    /// Writes to an open stream, which it closes; `name` names it in messages.
    KeptErrorWrite(std::FILE* stream, const std::string& name, std::string& error_text)
        : MidiWrite(stream, name.c_str()), error_text_(error_text) {}
    ~KeptErrorWrite() override { close(); }

    void error(const char* message) override {
        if (error_text_.empty()) error_text_ = message;
    }

    /// Writes a text-type meta event (FF type len text).
    void text(int type, std::string_view bytes) {
        putmeta(type, static_cast<std::uint32_t>(bytes.size()), bytes.data());
    }

private:
    std::string& error_text_;
};

}  // namespace quavella
