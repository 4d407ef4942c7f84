// SPDX-License-Identifier: Apache-2.0
// Numbers read back from llc2's own names and records: one spelling only,
// both ends of the range included.
#include "whole_number.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

namespace
{

TEST(WholeNumber, OnlyToStringsSpellingWithinBounds)
{
    const struct {
        const char *text;
        long long low, high;
        std::optional<long long> want;
    } cases[] = {
        {"0", 0, 5, 0},
        {"5", 0, 5, 5},
        {"6", 0, 5, std::nullopt},
        {"-1", 0, 5, std::nullopt},
        {"-7", -7, 0, -7},
        {"-8", -7, 0, std::nullopt},
        {"-0", -5, 5, std::nullopt},
        {"05", 0, 9, std::nullopt},
        {"+5", 0, 9, std::nullopt},
        {" 5", 0, 9, std::nullopt},
        {"5 ", 0, 9, std::nullopt},
        {"", 0, 9, std::nullopt},
        {"5x", 0, 9, std::nullopt},
        {"9223372036854775807", 0, LLONG_MAX, LLONG_MAX},
        {"9223372036854775808", 0, LLONG_MAX, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(whole_number(c.text, c.low, c.high), c.want) << '"' << c.text << '"';
}

} // namespace
