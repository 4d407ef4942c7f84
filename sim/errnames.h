// SPDX-License-Identifier: Apache-2.0
// errno values by name, for the scenario's faults and the request log.
#ifndef LLC2SIM_ERRNAMES_H
#define LLC2SIM_ERRNAMES_H

#include <optional>
#include <string>
#include <string_view>

// "EBUSY" -> EBUSY; nullopt for a name this table does not know.
std::optional<int> errno_from_name(std::string_view name);

// EBUSY -> "EBUSY"; a number without a name comes back in decimal.
std::string errno_name(int err);

#endif
