// The target file of an export: names made from titles, the extension, and the
// question before anything that exists under the name is replaced.
#include "app/commands/export_target.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app_fakes.h"

namespace quavella {
namespace {

using namespace quavella::test;
namespace fs = std::filesystem;

std::string spring(int count) {
    std::string s;
    for (int i = 0; i < count; ++i) s += "春";
    return s;
}

struct NameRow {
    const char* name;
    std::string title;
    std::string expected;
};

class FileNameFromTitle : public ::testing::TestWithParam<NameRow> {};

TEST_P(FileNameFromTitle, IsSafeForFileSystems) {
    EXPECT_EQ(file_name_from_title(GetParam().title, "乐谱"), GetParam().expected);
}

const NameRow kNames[] = {
    {"Chinese", "春眠不觉晓", "春眠不觉晓"},
    {"Latin words keep their spaces", "Spring sleep", "Spring sleep"},
    {"separators and refused marks", "a/b\\c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j"},
    {"control characters", "a\tb\nc", "a_b_c"},
    {"dots and blanks at the ends", " ..春.. ", "春"},
    {"nothing usable", "/ ", "乐谱"},
    {"empty", "", "乐谱"},
    // Three bytes a character: cut at 120 bytes, or before it inside a character.
    {"long", spring(50), spring(40)},
    {"long with a cut inside a character", "x" + spring(50), "x" + spring(39)},
};

INSTANTIATE_TEST_SUITE_P(Titles, FileNameFromTitle, ::testing::ValuesIn(kNames),
                         [](const auto& row) {
                             std::string name;
                             for (const char c : std::string(row.param.name)) {
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

TEST(WithExtension, AddsItUnlessTheNameEndsInItInAnyCase) {
    EXPECT_EQ(with_extension("score", ".pdf"), "score.pdf");
    EXPECT_EQ(with_extension("score.PDF", ".pdf"), "score.PDF");
    EXPECT_EQ(with_extension("score.pdf.txt", ".pdf"), "score.pdf.txt.pdf");
    EXPECT_EQ(with_extension("pdf", ".pdf"), "pdf.pdf");
}

TEST(ChooseExportFile, AsksBeforeAnythingThatExistsUnderTheName) {
    ScratchDir dir(ScratchDir::Current::enter);
    EventLog log;
    FakeExportDialogs dialogs(log);
    fs::create_directory("folder.png");
    fs::create_symlink("nowhere", "dangling.png");
    std::ofstream("file.png") << "kept";

    // Cancelled: no question.
    EXPECT_EQ(choose_export_file(dialogs, "乐谱.png", ".png", "PNG (*.png)"), std::nullopt);
    EXPECT_EQ(log, (EventLog{"file:乐谱.png"}));

    for (const char* taken : {"folder", "dangling.png", "file"}) {
        log.clear();
        dialogs.files = {taken};
        dialogs.replace = false;
        EXPECT_EQ(choose_export_file(dialogs, "乐谱.png", ".png", "PNG (*.png)"), std::nullopt);
        EXPECT_EQ(log.back(), "replace?:" + with_extension(taken, ".png"));
    }
    dialogs.files = {"file"};
    dialogs.replace = true;
    EXPECT_EQ(choose_export_file(dialogs, "乐谱.png", ".png", "PNG (*.png)"), "file.png");

    log.clear();
    dialogs.files = {"new"};
    EXPECT_EQ(choose_export_file(dialogs, "乐谱.png", ".png", "PNG (*.png)"), "new.png");
    EXPECT_EQ(log, (EventLog{"file:乐谱.png"}));
}

}  // namespace
}  // namespace quavella
