// Fuzz target: quavella-cli's command line. The input is the arguments, separated by
// NUL bytes; the first names the command (any other word runs every parser). A line is
// either refused with a message or gives settings that keep the parser's promises.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/args.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace quavella::cli;

constexpr std::size_t kMaxArgs = 64;

void check(const Parsed<ComposeSettings>& parsed) {
    if (const auto* refused = std::get_if<UsageError>(&parsed)) {
        FUZZ_CHECK(!refused->message.empty(), "compose refused without a message");
        return;
    }
    const ComposeSettings& s = std::get<ComposeSettings>(parsed);
    FUZZ_CHECK(s.best_of >= 1 && s.best_of <= quavella::kMaxBestOf, "--best-of %d accepted",
               s.best_of);
    FUZZ_CHECK(!(s.seed && s.state), "--seed and --state both accepted");
    FUZZ_CHECK(!(s.source.text && s.source.file_given), "--lyrics-hex and FILE both accepted");
    FUZZ_CHECK(!s.out_file.empty(), "an empty output file accepted");
    for (const std::string* other : {&s.musicxml_file, &s.lyrics_midi_file, &s.audio_file}) {
        FUZZ_CHECK(other->empty() || *other != s.out_file, "an export over -o accepted");
    }
}

void check(const Parsed<AnalyzeSettings>& parsed) {
    if (const auto* refused = std::get_if<UsageError>(&parsed)) {
        FUZZ_CHECK(!refused->message.empty(), "analyze refused without a message");
        return;
    }
    const AnalyzeSettings& s = std::get<AnalyzeSettings>(parsed);
    FUZZ_CHECK(!(s.source.text && s.source.file_given), "--lyrics-hex and FILE both accepted");
}

void check(const Parsed<HistorySettings>& parsed) {
    if (const auto* refused = std::get_if<UsageError>(&parsed)) {
        FUZZ_CHECK(!refused->message.empty(), "history refused without a message");
        return;
    }
    const HistorySettings& s = std::get<HistorySettings>(parsed);
    FUZZ_CHECK(s.limit >= 0, "a limit of %d accepted", s.limit);
    if (s.action != HistorySettings::Action::list) {
        FUZZ_CHECK(s.id > 0, "entry %lld accepted", static_cast<long long>(s.id));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args;
    std::size_t start = 0;
    while (start <= input.size() && args.size() < kMaxArgs) {
        std::size_t end = input.find('\0', start);
        if (end == std::string_view::npos) end = input.size();
        args.emplace_back(input.substr(start, end - start));
        start = end + 1;
    }
    const std::string command = args.front();
    const std::span<const std::string> rest(args.data() + 1, args.size() - 1);
    const bool any = command != "compose" && command != "analyze" && command != "history";
    if (any || command == "compose") check(parse_compose(rest));
    if (any || command == "analyze") check(parse_analyze(rest));
    if (any || command == "history") check(parse_history(rest));
    return 0;
}
