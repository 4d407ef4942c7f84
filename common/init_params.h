// SPDX-License-Identifier: Apache-2.0
// What initialising a PPA hands the driver: the ten LLC2 parameters of
// ctl_init, built from the twelve values of the PPA's configuration file.
// Shared by llc2 -i/-p/-P and by the tools that show an administrator what
// the driver will receive.
#ifndef LLC2_COMMON_INIT_PARAMS_H
#define LLC2_COMMON_INIT_PARAMS_H

#include "llc2_conf.h"
#include "llc2_driver.h"

#include <array>
#include <cstdint>

// One field of ctl_init and where its value comes from.
struct init_param {
    const char *const *keyword;     // the configuration keyword, e.g. &ACK_TIMER
    int conf_index;                 // its place in conf_params
    std::uint16_t ctl_init::*field; // where it goes in ctl_init
    std::uint16_t default_value;    // sent when the cut value is 0; 0: none
};

// The ten, in the order of ctl_init's fields (timeinterval and rsptimer come
// last there, unlike in the file). timeinterval has no default: 0 goes as 0.
inline constexpr std::array<init_param, 10> INIT_PARAMS{{
    {&ACK_TIMER, CONF_ACKTIMER, &ctl_init::acktimer, 2},
    {&POLL_TIMER, CONF_POLLTIMER, &ctl_init::polltimer, 4},
    {&REJ_TIMER, CONF_REJECTTIMER, &ctl_init::rejecttimer, 6},
    {&REM_BUSY_TIMER, CONF_REMBUSYTIMER, &ctl_init::rembusytimer, 8},
    {&INACT_TIMER, CONF_INACTTIMER, &ctl_init::inacttimer, 30},
    {&MAX_RETRY, CONF_MAXRETRY, &ctl_init::maxretry, 6},
    {&XMIT_WIN, CONF_XMITWINDOWSZ, &ctl_init::xmitwindowsz, 14},
    {&RECV_WIN, CONF_RCVWINDOWSZ, &ctl_init::rcvwindowsz, 14},
    {&TIME_INTRVL, CONF_TIMEINTERVAL, &ctl_init::timeinterval, 0},
    {&RSP_TIMER, CONF_RSPTIMER, &ctl_init::rsptimer, 2},
}};

// The value the driver receives for a configured value: its low 16 bits, or
// the default when those are 0 (so 65536 sends the default too).
std::uint16_t init_param_value(const init_param &param, int configured);

// The whole ctl_init for PPA ppa; conf_params holds CONF_NPARAMS values as
// read_conf_file left them. The reserved bytes are 0.
ctl_init make_ctl_init(int ppa, const int *conf_params);

#endif
