// Names table rows after their own `name` field, so a failing row reads as
// "Rows/NineBytes" rather than "Rows/3".
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace quavella::test {

/// The name generator of INSTANTIATE_TEST_SUITE_P for rows with a `name` member.
struct RowName {
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
        return info.param.name;
    }
};

}  // namespace quavella::test
