// SPDX-License-Identifier: Apache-2.0
// Numbers in the files and names llc2 writes itself, read back strictly: a
// number spelt otherwise was not written by llc2, so it proves nothing.
#ifndef LLC2_COMMON_WHOLE_NUMBER_H
#define LLC2_COMMON_WHOLE_NUMBER_H

#include <optional>
#include <string_view>

// text as a whole decimal number in [low, high], spelt exactly as
// std::to_string spells it: a minus only for a negative number, no '+', no
// leading zero ("05", "-0"), no blank. The number, or none.
std::optional<long long> whole_number(std::string_view text, long long low, long long high);

#endif
