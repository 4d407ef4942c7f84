// SPDX-License-Identifier: Apache-2.0
// The name of a parametrised case: its row's own name field, so that a run
// prints "sim/bad_scenario.refused/ppa_twice" rather than the row's values,
// and every line of it fits a terminal.
#ifndef LLC2TEST_ROW_NAME_H
#define LLC2TEST_ROW_NAME_H

#include <gtest/gtest.h>

#include <string>

namespace llc2test
{

struct row_name {
    template <class Row> std::string operator()(const ::testing::TestParamInfo<Row> &info) const
    {
        return std::string(info.param.name);
    }
};

} // namespace llc2test

#endif
