// SPDX-License-Identifier: Apache-2.0
// Plumbing one PPA: the network interface its configuration names is linked
// beneath the driver and the link bound to the PPA number.
#include "applied.h"
#include "control.h"
#include "link_journal.h"
#include "llc2_conf.h"
#include "llc2_debug.h"
#include "llc2_driver.h"
#include "llc2_names.h"
#include "llc2_ops.h"
#include "llc2_report.h"
#include "paths.h"
#include "streams.h"
#include "write_ahead.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <libintl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace
{

constexpr char DEVICE_DIR[] = "/dev/";

// The device path lives in a field of LLC2_PATH_SIZE bytes; a name longer
// than what fits behind "/dev/" is refused rather than cut.
bool device_path(const char *devicename, std::string &path)
{
    std::array<char, LLC2_PATH_SIZE> field{};
    const int n = std::snprintf(field.data(), field.size(), "%s%s", DEVICE_DIR, devicename);
    if (n < 0 || static_cast<std::size_t>(n) >= field.size())
        return false;
    path = rooted_path(field.data());
    return true;
}

// A ".." component would take the open out of /dev ("../../tmp/x"): no
// device is named so, whatever the file says.
bool leaves_dev(std::string_view name)
{
    for (std::size_t start = 0; start <= name.size();) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        if (name.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

int device_there(const conf_values &conf)
{
    std::string path;
    if (!device_path(conf.devicename.data(), path))
        return ENAMETOOLONG;
    if (leaves_dev(conf.devicename.data()))
        return ENOENT;
    struct stat st {
    };
    return stat(path.c_str(), &st) == 0 ? 0 : errno;
}

int open_device(const conf_values &conf)
{
    std::string path;
    if (!device_path(conf.devicename.data(), path)) {
        std::fprintf(stderr, gettext("Device name too long: %s\n"),
                     shown_name(conf.devicename.data()).c_str());
        errno = ENAMETOOLONG;
        return -1;
    }
    const std::string shown = shown_name(path);
    if (leaves_dev(conf.devicename.data())) {
        if (debug > 0)
            std::fprintf(stderr, "Error opening device %s: a \"..\" component leaves /dev\n",
                         shown.c_str());
        errno = ENOENT;
        return -1;
    }
    // A driver that stopped answering would be sent nothing for this PPA:
    // its interface is not opened for it either.
    if (!driver_answering()) {
        errno = ETIME;
        report_errno("Error plumbing %s: %s\n", shown.c_str()); // errno kept
        return -1;
    }
    const int lower = stream_open(path.c_str(), O_RDWR);
    if (lower < 0 && debug > 0) {
        // A missing interface is common at start-up; only -d says which.
        const int err = errno;
        std::fprintf(stderr, "Error opening device %s: %s\n", shown.c_str(), std::strerror(err));
        errno = err;
    }
    return lower;
}

plumb_outcome link_device(int lower, const conf_values &conf, int ppa, int fd, prepared_record *rec,
                          bool *all_recorded)
{
    std::string path;
    (void)device_path(conf.devicename.data(), path);
    const std::string shown = shown_name(path);
    // Until I_PLINK answers, only the intent tells that a link may be made.
    (void)journal_intent(ppa, conf.devicename.data());
    const int link_id = llc2_link(fd, lower);
    if (link_id < 0) {
        const bool unanswered = errno == ETIME;
        report_errno("Error plumbing %s: %s\n", shown.c_str());
        // Unanswered, it may have linked all the same: the intent stays.
        if (!unanswered)
            drop_intent(ppa);
        stream_close(lower);
        return plumb_outcome::failed;
    }
    // The link holds the interface's stream now; our descriptor is not needed.
    stream_close(lower);
    // Until SETPPA binds it, nothing but this entry knows of the link.
    (void)journal_intent_linked(ppa, link_id);

    ppa_link bind{};
    bind.ppa = ppa;
    bind.cmd = LLC2_LINK_CMD;
    bind.link_id = link_id;
    bind.instance = conf.instance;
    if (llc2_request(fd, LLC2_IOC_SETPPA, bind) >= 0) {
        unjournal_link(link_id);
        const bool link_recorded =
            record_link(ppa, plumbed_link{conf.devicename.data(), conf.instance, link_id}, rec) ==
            0;
        if (all_recorded != nullptr)
            *all_recorded = *all_recorded && link_recorded;
        return plumb_outcome::plumbed;
    }
    report_errno("Error setting PPA(%d) on %s: %s\n", ppa, shown.c_str());
    // An unbound link would hold the interface until the next boot.
    if (llc2_unlink(fd, link_id) == 0)
        unjournal_link(link_id);
    return plumb_outcome::failed;
}

plumb_outcome plumb_ppa(FILE *fp, int ppa, int fd, prepared_record *rec, bool *all_recorded)
{
    // The stream is ours from here on: closed once, on every path.
    conf_values conf;
    if (read_conf_and_close(fp, conf) == -1) {
        if (debug > 0)
            std::fprintf(stderr, "Invalid configuration file %s.%d\n", "llc2", ppa);
        return plumb_outcome::failed;
    }
    if (conf.params[CONF_LLC2_ON] == 0) {
        if (debug > 0)
            std::fprintf(stderr, "Skip plumbing PPA %d.\n", ppa);
        return plumb_outcome::switched_off;
    }
    if (debug > 0)
        std::fprintf(stderr, "Plumbing PPA %d: %s(%d)\n", ppa,
                     shown_name(conf.devicename.data()).c_str(), conf.instance);
    const int lower = open_device(conf);
    if (lower < 0)
        return plumb_outcome::failed;
    // The PPA is not held, so a record that cannot be prepared does not
    // stop its plumbing: the run fails instead.
    prepared_record own;
    prepared_record &ahead_rec = rec != nullptr ? *rec : own;
    if (write_ahead(ppa, ppa_change::plumb, &conf, ahead_rec, nullptr) != ahead::go &&
        all_recorded != nullptr)
        *all_recorded = false;
    return link_device(lower, conf, ppa, fd, &ahead_rec, all_recorded);
}

int llc2_plumb_ppa(FILE *fp, int ppa, int fd)
{
    bool all_recorded = true;
    const plumb_outcome outcome = plumb_ppa(fp, ppa, fd, nullptr, &all_recorded);
    return outcome == plumb_outcome::plumbed && all_recorded ? 0 : -1;
}
