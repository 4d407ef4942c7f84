// SPDX-License-Identifier: Apache-2.0
#include "dlpi.h"
#include "row_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

struct parse_case {
    const char *name;
    std::string link;
    bool ok;
    std::string provider;
    unsigned instance;
};

void PrintTo(const parse_case &c, std::ostream *os)
{
    *os << '"' << c.link << '"';
}

class parselink : public ::testing::TestWithParam<parse_case>
{
};

TEST_P(parselink, splits_or_refuses)
{
    const parse_case &c = GetParam();
    char provider[DLPI_LINKNAME_MAX];
    std::memset(provider, 'Z', sizeof provider);
    provider[sizeof provider - 1] = '\0';
    const std::string before = provider;
    unsigned instance = 4242;
    const int r = dlpi_parselink(c.link.c_str(), provider, &instance);
    if (c.ok) {
        EXPECT_EQ(r, DLPI_SUCCESS);
        EXPECT_EQ(provider, c.provider);
        EXPECT_EQ(instance, c.instance);
    } else {
        EXPECT_EQ(r, DLPI_ELINKNAMEINVAL);
        // A refusal leaves the outputs alone.
        EXPECT_EQ(provider, before);
        EXPECT_EQ(instance, 4242U);
    }
}

const std::string name31(31, 'n');
const std::string name32(32, 'n');

INSTANTIATE_TEST_SUITE_P(
    names, parselink,
    ::testing::Values(parse_case{"plain", "xnic0", true, "xnic", 0},
                      parse_case{"digits_in_provider", "e1000g12", true, "e1000g", 12},
                      parse_case{"leading_zeros", "bge007", true, "bge", 7},
                      parse_case{"provider_of_31", name31 + "1", true, name31, 1},
                      parse_case{"instance_max", "net2147483647", true, "net", 2147483647U},
                      parse_case{"no_instance", "net", false, "", 0},
                      parse_case{"no_provider", "0", false, "", 0},
                      parse_case{"empty", "", false, "", 0},
                      parse_case{"provider_of_32", name32 + "1", false, "", 0},
                      parse_case{"instance_over_max", "net2147483648", false, "", 0},
                      parse_case{"instance_huge", "net99999999999999999999", false, "", 0}),
    llc2test::row_name());

TEST(parselink_null, null_link_name_is_refused)
{
    char provider[DLPI_LINKNAME_MAX] = "keep";
    unsigned instance = 1;
    EXPECT_EQ(dlpi_parselink(nullptr, provider, &instance), DLPI_ELINKNAMEINVAL);
}

} // namespace
