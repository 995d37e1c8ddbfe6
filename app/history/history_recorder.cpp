// Recording the window's compositions in the history.
#include "app/history/history_recorder.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <utility>

#include "app/commands/window_commands.h"
#include "composer/compose_request.h"
#include "composer/message_sink.h"
#include "notation/score.h"
#include "tones/tone_grading.h"

namespace quavella {

namespace {

std::string joined_lines(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (k > 0) text += '\n';
        text += lines[k];
    }
    return text;
}

/// The whole file, or nothing when it cannot be read (errno tells why).
std::optional<std::string> file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(bytes).str();
}

/// The bytes of the composition file a compose request from the composition's
/// state writes: made again in a scratch file, which is then removed. Nothing
/// when the scratch file cannot be written or read (errno tells why).
std::optional<std::string> remade_bytes(const FinishedComposition& composition) {
    std::error_code error;
    const std::filesystem::path dir = std::filesystem::temp_directory_path(error);
    if (error) {
        errno = error.value();
        return std::nullopt;
    }
    std::random_device random;
    const std::filesystem::path scratch = dir / ("quavella-candidate-" + std::to_string(random()) +
                                                 std::to_string(random()) + ".mid");
    Generators gens;
    gens.restore(composition.state);
    QuietSink quiet;
    const ComposeOutcome again =
        compose_lyrics(composition.gbk_text, composition.speed_pos, composition.mode_pos,
                       composition.timbre_pos, gens, quiet, scratch.string());
    std::optional<std::string> bytes;
    if (again.midi_error.empty()) bytes = file_bytes(scratch.string());
    const int saved = errno;
    std::filesystem::remove(scratch, error);
    errno = saved;
    return bytes;
}

constexpr const char* kUnaffected = "作曲、播放和保存照常进行，";

}  // namespace

history::Record record_of(const FinishedComposition& composition, std::string midi,
                          std::int64_t time_ms) {
    history::Record record;
    record.time_ms = time_ms;
    record.lyrics = joined_lines(composition.lines);
    record.gbk_text = composition.gbk_text;
    record.speed_pos = composition.speed_pos;
    record.mode_pos = composition.mode_pos;
    record.timbre_pos = composition.timbre_pos;
    history::fill_items(record);
    const ComposeOutcome& outcome = composition.outcome;
    record.tempo = outcome.tempo;
    record.mode = outcome.mode;
    record.program = outcome.program;
    record.state = composition.state;
    record.notes = outcome.nt_seq;
    record.ticks = outcome.tm_seq;
    record.syllables = notation::melody_from(composition.gbk_text, outcome).lyrics;
    record.midi = std::move(midi);
    const ToneGrading tones = grade_melody(composition.gbk_text, outcome.nt_seq);
    if (tones.graded() > 0) record.tone_score = tones.score();
    return record;
}

ListenerFanOut::ListenerFanOut(std::initializer_list<CompositionListener*> listeners) {
    for (CompositionListener* listener : listeners) {
        if (listener != nullptr) listeners_.push_back(listener);
    }
}

void ListenerFanOut::composed(const FinishedComposition& composition) {
    for (CompositionListener* listener : listeners_) listener->composed(composition);
}

void ListenerFanOut::passed_over(const FinishedComposition& candidate) {
    for (CompositionListener* listener : listeners_) listener->passed_over(candidate);
}

HistoryRecorder::HistoryRecorder(history::Store* store, MessageBox& box,
                                 std::function<std::int64_t()> now_ms,
                                 std::function<void(std::int64_t)> recorded)
    : store_(store), box_(box), now_ms_(std::move(now_ms)), recorded_(std::move(recorded)) {}

void HistoryRecorder::composed(const FinishedComposition& composition) {
    if (store_ == nullptr) {
        tell_once("作品记录无处保存（没有设置 XDG_DATA_HOME 或 HOME）。" +
                  std::string(kUnaffected) + "但这次运行中的作品不会被记录。");
        return;
    }
    const auto midi = file_bytes(composition.play_file);
    if (!midi) {
        tell_once("作品没有记入作品记录：无法读取旋律文件 " + composition.play_file + "（" +
                  std::strerror(errno) + "）。" + kUnaffected + "但这首作品不会出现在作品记录中。");
        return;
    }
    keep(composition, *midi);
}

void HistoryRecorder::passed_over(const FinishedComposition& candidate) {
    if (store_ == nullptr) return;  // told when the chosen one is composed
    const auto midi = remade_bytes(candidate);
    if (!midi) {
        tell_once("候选旋律没有记入作品记录：无法写入临时文件（" +
                  std::string(std::strerror(errno)) + "）。" + kUnaffected +
                  "它可以用生成器状态重新生成。");
        return;
    }
    keep(candidate, *midi);
}

void HistoryRecorder::keep(const FinishedComposition& composition, const std::string& midi) {
    std::int64_t id = 0;
    const history::Status status = store_->record(record_of(composition, midi, now_ms_()), id);
    if (status == history::Status::failed) {
        tell_once("作品记录无法保存：" + store_->last_error() + "。" + kUnaffected +
                  "但这次运行中的作品可能不会被记录。");
        return;
    }
    if (status == history::Status::recovered) {
        tell_once("作品记录文件已损坏，已移到 " + store_->moved_to().string() +
                  "（没有删除），并新建了作品记录。");
    }
    last_id_ = id;
    if (recorded_) recorded_(id);
}

void HistoryRecorder::tell_once(const std::string& text) {
    if (told_) return;
    told_ = true;
    box_.show(text, kHintCaption);
}

std::int64_t system_time_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace quavella
