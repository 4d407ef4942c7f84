// SPDX-License-Identifier: Apache-2.0
#include "write_ahead.h"

#include "init_params.h"
#include "run_lock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <libintl.h>

namespace
{

// The step that cannot be done, said once: how much of the change is left
// depends on whether the driver holds the PPA.
ahead cannot(int ppa, ppa_change what, int err, std::string *why)
{
    const char *reason = std::strerror(err);
    if (what == ppa_change::plumb) {
        std::fprintf(stderr, gettext("Cannot record PPA %d: %s\n"), ppa, reason);
        if (why != nullptr)
            *why = std::string("cannot record: ") + reason;
        return ahead::unrecorded;
    }
    std::fprintf(stderr, gettext("Cannot record PPA %d: %s; left as it is\n"), ppa, reason);
    if (why != nullptr)
        *why = std::string("cannot record: ") + reason + "; left as it is";
    return ahead::refused;
}

} // namespace

ahead write_ahead(int ppa, ppa_change what, const conf_values *conf, prepared_record &rec,
                  std::string *why)
{
    const bool writes_link = what == ppa_change::plumb || what == ppa_change::replumb;
    const bool writes_params = writes_link || what == ppa_change::init;
    // A directory where a part goes cannot be renamed over: found now, not
    // after the change.
    int err = record_replaceable(ppa);
    ctl_init planned{};
    if (writes_params && conf != nullptr)
        planned = make_ctl_init(ppa, conf->params.data());
    if (err == 0 && writes_link && conf != nullptr)
        err = prepare_link_part(ppa, conf->devicename.data(), conf->instance, rec);
    if (err == 0 && writes_params)
        err = prepare_params_part(ppa, rec);
    // Another run may be changing the same PPA: only what the driver does
    // not hold yet is done without the lock, and the record is not touched.
    if (err == 0 && what != ppa_change::plumb && run_lock_error() != 0) {
        rec = prepared_record();
        std::fprintf(stderr, gettext("PPA %d: not changed without the run lock; left as it is\n"),
                     ppa);
        if (why != nullptr)
            *why = "not changed without the run lock; left as it is";
        return ahead::refused;
    }
    // Marked last: a change that cannot be recorded leaves the record as it
    // was, which the driver still confirms.
    if (err == 0 && what != ppa_change::plumb)
        err = writes_params ? unconfirm_params(ppa, planned) : drop_params(ppa);
    if (err == 0)
        return ahead::go;
    rec = prepared_record();
    rec.unrecorded = true;
    return cannot(ppa, what, err, why);
}
