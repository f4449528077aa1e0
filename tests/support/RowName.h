#pragma once

#include <gtest/gtest.h>

#include <string>

namespace quillon::testing {

// Names each row of a parameterised table after its `name` field.
struct RowName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& row) const {
        return std::string(row.param.name);
    }
};

}  // namespace quillon::testing
