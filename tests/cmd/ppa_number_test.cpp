// The PPA argument is taken only when it is a whole decimal int.
#include "ppa_number.h"

#include <gtest/gtest.h>

namespace
{

TEST(ParsePpa, AcceptsWholeDecimalIntsOnly)
{
    const struct {
        const char *text;
        bool ok;
        int value;
    } cases[] = {
        {"0", true, 0},
        {"63", true, 63},
        {"007", true, 7},
        {"-1", true, -1},
        {"-0", true, 0},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"+3", false, 0},
        {" 3", false, 0},
        {"3 ", false, 0},
        {"3x", false, 0},
        {"abc", false, 0},
        {"0x10", false, 0},
        {"--1", false, 0},
        {"1-", false, 0},
        {"\xd9\xa3", false, 0}, // ARABIC-INDIC DIGIT THREE: a digit, but not ours
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        int ppa = 12345;
        EXPECT_EQ(parse_ppa(c.text, &ppa), c.ok);
        EXPECT_EQ(ppa, c.ok ? c.value : 12345) << "a rejected text must leave the number alone";
    }
    int ppa = 1;
    EXPECT_FALSE(parse_ppa(nullptr, &ppa));
}

} // namespace
