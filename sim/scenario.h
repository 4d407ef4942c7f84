// SPDX-License-Identifier: Apache-2.0
// The scenario llc2sim starts from: emulated network interfaces, PPAs that
// exist already, and faults. Read from JSON (see llc2sim --help).
#ifndef LLC2SIM_SCENARIO_H
#define LLC2SIM_SCENARIO_H

#include "llc2_driver.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using mac_addr = std::array<std::uint8_t, 6>;

// What DLPI reports for an interface, or for one PPA.
struct dlpi_values {
    std::uint32_t mac_type = 4; // DL_ETHER
    std::uint32_t max_sdu = 1500;
    std::uint32_t min_sdu = 1;
    std::uint32_t service_mode = 1; // DL_CODLS
};

struct iface_conf {
    std::string name; // the device DIR/dev/<name>
    dlpi_values dlpi;
    std::vector<mac_addr> macs; // by instance
};

// A PPA that exists when llc2sim starts, as if plumbed before.
struct ppa_conf {
    int ppa = 0;
    std::string interface; // empty: the first interface
    int instance = 0;
    std::uint8_t state = 0;
    std::optional<std::uint16_t> id;
    std::optional<mac_addr> mac;
    std::optional<std::uint8_t> answer_ppa; // GETPPA's answer names this number
    std::optional<int> link_id;
    std::optional<ctl_init> params;
    std::optional<dlpi_values> dlpi; // merged over the interface's
};

// The requests a fault can hit.
enum class req_kind {
    open,
    enable,
    disable,
    getppa,
    init,
    uninit,
    getlink,
    setppa,
    plink,
    punlink,
    attach,
    info,
    detach
};

std::optional<req_kind> req_kind_from_name(std::string_view name);
std::string_view req_kind_name(req_kind k);
bool is_dlpi(req_kind k);

enum class fault_action {
    refuse,    // fail the call with err
    noreply,   // never answer
    delay,     // answer after delay_ms
    error_ack, // DLPI: DL_ERROR_ACK
    wrong_primitive,
    long_reply,   // DLPI: reply past the 76-byte fixed part
    data_part,    // DLPI: reply with a data part
    short_reply,  // DLPI: reply shorter than its fields
    getmsg_errno, // DLPI: the getmsg that takes the reply fails with err
    poll_errno,   // DLPI: the next poll of the stream fails with err
};

// The scenario's word for an action ("errno", "noreply", "delay_ms", or the
// "dlpi" value), also what the request log names a fault by.
std::string_view fault_action_name(fault_action a);

struct fault {
    req_kind request = req_kind::open;
    std::optional<int> ppa;
    std::optional<std::string> device;
    int skip = 0;
    int count = -1; // -1: without end
    fault_action action = fault_action::refuse;
    int err = 0;
    int delay_ms = 0;
    std::uint32_t dl_errno = 0x08; // DL_BADPPA
    std::uint32_t unix_errno = 0;
    std::optional<std::uint32_t> primitive;
    int extra = 24;
    int length = 4;
    // Run-time counters.
    int seen = 0;
    int fired = 0;
};

struct scenario {
    std::vector<iface_conf> interfaces;
    std::vector<ppa_conf> ppas;
    std::vector<fault> faults;
};

// The scenario used without --scenario: one interface "xnic".
scenario default_scenario();

// Parses and checks a scenario; throws std::runtime_error saying what is
// wrong and where.
scenario parse_scenario(std::string_view json_text);

// "02:00:00:a1:b2:c3"; nullopt unless exactly six hex pairs.
std::optional<mac_addr> parse_mac(std::string_view text);

#endif
