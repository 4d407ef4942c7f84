// SPDX-License-Identifier: Apache-2.0
// The status table: one row for every PPA the driver holds a record for,
// with what DLPI reports for it and the device its configuration names.
#include "control.h"
#include "device_info.h"
#include "llc2_names.h"
#include "llc2_ops.h"
#include "mac_text.h"
#include "scan.h"

#include <cstdio>
#include <string_view>

namespace
{

constexpr std::string_view query_header =
    "PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device";
static_assert(query_header.size() == 67);

// Stands in for the four DLPI columns when the exchange failed; as wide as
// they are with an eight-letter medium name.
constexpr const char *NO_DEVICE_INFO = "      ??     ??     ??   ?? ";
// Stands in for the device column when the configuration is unusable.
constexpr const char *NO_DEVICE = "       ??\n";

// One row, once everything about the PPA is known. open_conf and
// read_conf_file have said on standard error why a file is unusable.
void print_row(const ppa_facts &f)
{
    // The number the driver answered, which is what it knows the PPA by.
    const ppa_info &info = f.driver;
    std::printf("%3d %5s  %04x %s ", info.ppa, state_word(info.state),
                static_cast<unsigned>(info.id), mac_text(info.mac).c_str());
    if (f.dlpi_known)
        print_device_info(f.dlpi);
    else
        std::fputs(NO_DEVICE_INFO, stdout);
    if (f.conf_read)
        std::printf("%10s%d\n", shown_name(f.conf.devicename.data()).c_str(), f.conf.instance);
    else
        std::fputs(NO_DEVICE, stdout);
}

} // namespace

int llc2_query(void)
{
    const control_stream ctl(llc2_open_control());
    if (ctl.fd < 0)
        return -1;
    std::printf("%.*s\n", static_cast<int>(query_header.size()), query_header.data());
    // Once a DLPI reply never comes, the rows go on without the DLPI columns;
    // once a GETPPA is never answered, the table ends there. Either way the
    // driver stopped answering, and the run failed.
    scan_plan plan;
    plan.dlpi_gives_up = true;
    const scan_result scanned = scan_ppas(ctl.fd, plan, print_row);
    return scanned.answered && scanned.dlpi_answered ? 0 : -1;
}
