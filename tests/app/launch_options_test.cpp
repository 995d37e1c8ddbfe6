// The window program's command line: each option, help and version beside refused
// arguments, and the refusals' texts.
#include "app/desktop/launch_options.h"

#include <gtest/gtest.h>

#include "tests/support/row_name.h"

namespace quavella {
namespace {

struct LaunchRow {
    const char* name;
    std::vector<std::string> args;
    bool from_menu, new_instance, help, version;
    std::string error;
};

void PrintTo(const LaunchRow& row, std::ostream* out) { *out << row.name; }

class LaunchOptionsTest : public ::testing::TestWithParam<LaunchRow> {};

TEST_P(LaunchOptionsTest, Parse) {
    const LaunchRow& row = GetParam();
    const LaunchOptions options = parse_launch_options(row.args);
    EXPECT_EQ(options.from_menu, row.from_menu);
    EXPECT_EQ(options.new_instance, row.new_instance);
    EXPECT_EQ(options.help, row.help);
    EXPECT_EQ(options.version, row.version);
    EXPECT_EQ(options.error, row.error);
}

const LaunchRow kRows[] = {
    {"None", {}, false, false, false, false, ""},
    {"FromMenu", {"--from-menu"}, true, false, false, false, ""},
    {"Both", {"--new-instance", "--from-menu"}, true, true, false, false, ""},
    {"HelpShort", {"-h"}, false, false, true, false, ""},
    {"Version", {"--version"}, false, false, false, true, ""},
    {"UnknownOption",
     {"--from-menu", "--frm-menu"},
     true,
     false,
     false,
     false,
     "unknown option: --frm-menu"},
    {"FileArgument", {"song.mid"}, false, false, false, false, "unexpected argument: song.mid"},
    // Before Qt takes out its own options they are refused, but help still answers.
    {"HelpBesideQtOptions",
     {"-platform", "offscreen", "--help"},
     false,
     false,
     true,
     false,
     "unknown option: -platform"},
    {"FirstRefusalReported", {"x", "--y"}, false, false, false, false, "unexpected argument: x"},
};

INSTANTIATE_TEST_SUITE_P(Rows, LaunchOptionsTest, ::testing::ValuesIn(kRows), test::RowName());

}  // namespace
}  // namespace quavella
