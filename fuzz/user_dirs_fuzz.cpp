// Fuzz target: the user-dirs.dirs reader that finds the music folder for the window's
// working files. Whatever the file holds, the answer is nothing or an absolute folder (one
// under the home folder for "$HOME/..."), and a later line naming a folder always wins.
#include <cstdint>
#include <filesystem>
#include <string>

#include "app/desktop/work_dir.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path home = "/home/user";
    const auto music = quavella::music_dir_from_user_dirs(text, home);
    if (music) {
        FUZZ_CHECK(music->is_absolute(), "music folder '%s' is not absolute", music->c_str());
    }
    const auto later =
        quavella::music_dir_from_user_dirs(text + "\nXDG_MUSIC_DIR=\"$HOME/later\"\n", home);
    FUZZ_CHECK(later == home / "later", "a later line did not win: '%s'",
               later ? later->c_str() : "(none)");
    return 0;
}
