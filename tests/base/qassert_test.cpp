#include "base/qassert.h"

#include <gtest/gtest.h>

namespace {

TEST(QAssert, ReportNamesExpressionModuleAndLine) {
    EXPECT_EQ(quavella::assert_report("stc_cnt>0", "parag", 45),
              "Assertion failed: stc_cnt>0, file parag, line 45");
}

TEST(QAssertDeathTest, FailedCheckAbortsWithItsOwnSourceLine) {
    const int line = __LINE__ + 3;
    auto fail = [] {
        int stc_cnt = 0;
        QV_ASSERT("parag", stc_cnt > 0);
    };
    const std::string expected =
        "Assertion failed: stc_cnt > 0, file parag, line " + std::to_string(line);
    EXPECT_DEATH(fail(), expected);
}

TEST(QAssertDeathTest, ExplicitTextIsReportedInPlaceOfTheExpression) {
    const int line = __LINE__ + 3;
    auto fail = [] {
        int stc_cnt = 0;
        QV_ASSERT_TEXT("parag", stc_cnt > 0, "stc_cnt>0");
    };
    const std::string expected =
        "Assertion failed: stc_cnt>0, file parag, line " + std::to_string(line);
    EXPECT_DEATH(fail(), expected);
}

TEST(QAssert, PassingCheckDoesNothing) {
    int n = 1;
    QV_ASSERT("parag", n > 0);
    SUCCEED();
}

}  // namespace
