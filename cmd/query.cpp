// The status table: one row for every PPA the driver holds a record for,
// with what DLPI reports for it and the device its configuration names.
#include "control.h"
#include "device_info.h"
#include "llc2_conf.h"
#include "llc2_debug.h"
#include "llc2_driver.h"
#include "llc2_names.h"
#include "llc2_ops.h"

#include <array>
#include <cerrno>
#include <cstdint>
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

// The first of the three bits that is set decides.
const char *state_word(std::uint8_t state)
{
    if ((state & LLC2_STATE_BAD) != 0)
        return "bad";
    if ((state & LLC2_STATE_UP) != 0)
        return "up";
    if ((state & LLC2_STATE_OFF) != 0)
        return "off";
    return "down";
}

// The device column, from the PPA's own configuration file. open_conf and
// read_conf_file say on standard error why a file is unusable.
void print_device(int ppa)
{
    FILE *fp = open_conf(ppa);
    if (fp == nullptr) {
        std::fputs(NO_DEVICE, stdout);
        return;
    }
    conf_values conf;
    if (read_conf_and_close(fp, conf) == -1)
        std::fputs(NO_DEVICE, stdout);
    else
        std::printf("%10s%d\n", shown_name(conf.devicename.data()).c_str(), conf.instance);
}

} // namespace

int llc2_query(void)
{
    const control_stream ctl(llc2_open_control());
    if (ctl.fd < 0)
        return -1;
    std::printf("%.*s\n", static_cast<int>(query_header.size()), query_header.data());

    for (int ppa = 0; ppa < LLC2_MAX_PPA; ++ppa) {
        ppa_info info{};
        info.ppa = static_cast<std::uint8_t>(ppa);
        if (debug > 0)
            std::fprintf(stderr, "Checking PPA %d\n", ppa);
        if (llc2_request(ctl.fd, LLC2_IOC_GETPPA, info) < 0) {
            // ENOENT: no PPA at this number. Anything else: the driver
            // will not tell us more, and the rows so far stand.
            if (errno == ENOENT)
                continue;
            break;
        }
        // The number the driver answered, which is what it knows the PPA by.
        std::printf("%3d %5s  %04x %02x%02x%02x%02x%02x%02x ", info.ppa, state_word(info.state),
                    static_cast<unsigned>(info.id), info.mac[0], info.mac[1], info.mac[2],
                    info.mac[3], info.mac[4], info.mac[5]);
        if (get_device_info(ppa, ctl.fd) == -1)
            std::fputs(NO_DEVICE_INFO, stdout);
        print_device(ppa);
    }
    return 0;
}
