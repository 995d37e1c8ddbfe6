// Setting lists of the compose command and their mappings.
#include "composer/style_tables.h"

#include <array>

namespace quavella {

int speed_base(int position) {
    switch (position) {
        case 0:
            return 100;
        case 1:
            return 140;
        case 2:
            return 180;
        default:
            return 140;
    }
}

int mode_number(int position) { return position >= 0 && position <= 3 ? 3 - position : 3; }

int mode_position(int mode) { return mode >= 0 && mode <= 3 ? 3 - mode : -1; }

int program_number(int position) {
    static constexpr std::array<int, 10> programs{0, 10, 16, 24, 32, 40, 48, 56, 64, 72};
    if (position < 0 || position >= static_cast<int>(programs.size())) return 0;
    return programs[static_cast<std::size_t>(position)];
}

const std::vector<std::string>& speed_items() {
    static const std::vector<std::string> items{"慢", "中", "快"};
    return items;
}

const std::vector<std::string>& mode_items() {
    static const std::vector<std::string> items{"七声调式", "六声调式1", "六声调式2", "五声调式"};
    return items;
}

const std::vector<std::string>& timbre_items() {
    static const std::vector<std::string> items{"钢琴",   "八音盒", "风琴", "吉他",   "贝司",
                                                "小提琴", "弦乐组", "小号", "萨克斯", "短笛"};
    return items;
}

}  // namespace quavella
