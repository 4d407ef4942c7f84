// SPDX-License-Identifier: Apache-2.0
// Requests of the llc2 driver's control stream /dev/llc2: command codes,
// control-message types and the payload records, shared by the command and by
// llc2sim so that both sides agree on every byte.
//
// Integers are in the host's byte order: the driver runs on the same host.
#ifndef LLC2_DRIVER_H
#define LLC2_DRIVER_H

#include <cstddef>
#include <cstdint>

// ic_cmd values of the I_STR requests.
inline constexpr int LLC2_IOC_ENABLE = 1;
inline constexpr int LLC2_IOC_DISABLE = 2;
inline constexpr int LLC2_IOC_GETPPA = 0x0A;
inline constexpr int LLC2_IOC_CONTROL = 0x49000008;
inline constexpr int LLC2_IOC_GETLINK = 0x4C00000A;
inline constexpr int LLC2_IOC_SETPPA = 0x4C00000B;

// msg_type of the control messages carried by LLC2_IOC_CONTROL.
inline constexpr std::uint32_t LLC2_CTL_INIT = 0x4C000001;
inline constexpr std::uint32_t LLC2_CTL_UNINIT = 0x4C000002;

// Every request waits at most this many seconds for the driver's answer.
inline constexpr int LLC2_IOC_TIMEOUT = 10;

// First word of ppa_enable; ppa_disable carries 0 there.
inline constexpr std::int32_t LLC2_ENABLE_ALL = -1;
// Second word of ppa_link, in SETPPA and GETLINK alike.
inline constexpr std::int32_t LLC2_LINK_CMD = 15;

// State flag bits of ppa_info.state. The status table tests them in this
// order and the first one set decides; other bits are the driver's own.
inline constexpr std::uint8_t LLC2_STATE_BAD = 0x02;
inline constexpr std::uint8_t LLC2_STATE_UP = 0x04;
inline constexpr std::uint8_t LLC2_STATE_OFF = 0x08;

// PPA numbers that the scans over all PPAs probe: 0 .. LLC2_MAX_PPA - 1.
inline constexpr int LLC2_MAX_PPA = 64;
// The highest PPA number GETPPA can ask about: its request carries one byte.
inline constexpr int LLC2_GETPPA_MAX = 255;

// LLC2_IOC_ENABLE, 44 bytes. The answer is not read.
struct ppa_enable {
    std::int32_t all; // LLC2_ENABLE_ALL
    std::int32_t ppa;
    std::uint8_t reserved[36];
};

// LLC2_IOC_DISABLE, 8 bytes. The answer is not read.
struct ppa_disable {
    std::int32_t all; // 0
    std::int32_t ppa;
};

// LLC2_IOC_CONTROL with LLC2_CTL_UNINIT, 8 bytes.
struct ctl_uninit {
    std::int32_t ppa;
    std::uint32_t msg_type;
};

// LLC2_IOC_CONTROL with LLC2_CTL_INIT, 32 bytes. The field order is the
// driver's, not that of the configuration file.
struct ctl_init {
    std::int32_t ppa;
    std::uint32_t msg_type;
    std::uint16_t acktimer;
    std::uint16_t polltimer;
    std::uint16_t rejecttimer;
    std::uint16_t rembusytimer;
    std::uint16_t inacttimer;
    std::uint16_t maxretry;
    std::uint16_t xmitwindowsz;
    std::uint16_t rcvwindowsz;
    std::uint16_t timeinterval;
    std::uint16_t rsptimer;
    std::uint8_t reserved[4];
};

// LLC2_IOC_SETPPA and LLC2_IOC_GETLINK, 16 bytes. GETLINK answers link_id.
struct ppa_link {
    std::int32_t ppa;
    std::int32_t cmd; // LLC2_LINK_CMD
    std::int32_t link_id;
    std::int32_t instance;
};

// LLC2_IOC_GETPPA, 10 bytes: the request sets ppa (the low 8 bits of the
// number asked for), the driver fills the rest.
struct ppa_info {
    std::uint8_t ppa;
    std::uint8_t state;
    std::uint16_t id;
    std::uint8_t mac[6];
};

static_assert(sizeof(ppa_enable) == 44);
static_assert(offsetof(ppa_enable, all) == 0);
static_assert(offsetof(ppa_enable, ppa) == 4);
static_assert(offsetof(ppa_enable, reserved) == 8);

static_assert(sizeof(ppa_disable) == 8);
static_assert(offsetof(ppa_disable, all) == 0);
static_assert(offsetof(ppa_disable, ppa) == 4);

static_assert(sizeof(ctl_uninit) == 8);
static_assert(offsetof(ctl_uninit, ppa) == 0);
static_assert(offsetof(ctl_uninit, msg_type) == 4);

static_assert(sizeof(ctl_init) == 32);
static_assert(offsetof(ctl_init, ppa) == 0);
static_assert(offsetof(ctl_init, msg_type) == 4);
static_assert(offsetof(ctl_init, acktimer) == 8);
static_assert(offsetof(ctl_init, polltimer) == 10);
static_assert(offsetof(ctl_init, rejecttimer) == 12);
static_assert(offsetof(ctl_init, rembusytimer) == 14);
static_assert(offsetof(ctl_init, inacttimer) == 16);
static_assert(offsetof(ctl_init, maxretry) == 18);
static_assert(offsetof(ctl_init, xmitwindowsz) == 20);
static_assert(offsetof(ctl_init, rcvwindowsz) == 22);
static_assert(offsetof(ctl_init, timeinterval) == 24);
static_assert(offsetof(ctl_init, rsptimer) == 26);
static_assert(offsetof(ctl_init, reserved) == 28);

static_assert(sizeof(ppa_link) == 16);
static_assert(offsetof(ppa_link, ppa) == 0);
static_assert(offsetof(ppa_link, cmd) == 4);
static_assert(offsetof(ppa_link, link_id) == 8);
static_assert(offsetof(ppa_link, instance) == 12);

static_assert(sizeof(ppa_info) == 10);
static_assert(offsetof(ppa_info, ppa) == 0);
static_assert(offsetof(ppa_info, state) == 1);
static_assert(offsetof(ppa_info, id) == 2);
static_assert(offsetof(ppa_info, mac) == 4);

#endif
