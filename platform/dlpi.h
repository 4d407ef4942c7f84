// SPDX-License-Identifier: Apache-2.0
// DLPI records and constants used by the tool and by llc2sim (the DLPI
// standard's, 32-bit words in host byte order), and dlpi_parselink.
#ifndef LLC2_PLATFORM_DLPI_H
#define LLC2_PLATFORM_DLPI_H

#include <cstddef>
#include <cstdint>

using t_uscalar_t = std::uint32_t;
using t_scalar_t = std::int32_t;

inline constexpr t_uscalar_t DL_INFO_REQ = 0x00;
inline constexpr t_uscalar_t DL_INFO_ACK = 0x03;
inline constexpr t_uscalar_t DL_ERROR_ACK = 0x05;
inline constexpr t_uscalar_t DL_OK_ACK = 0x06;
inline constexpr t_uscalar_t DL_ATTACH_REQ = 0x0b;
inline constexpr t_uscalar_t DL_DETACH_REQ = 0x0c;

inline constexpr t_uscalar_t DL_CSMACD = 0x0;
inline constexpr t_uscalar_t DL_TPB = 0x1;
inline constexpr t_uscalar_t DL_TPR = 0x2;
inline constexpr t_uscalar_t DL_ETHER = 0x4;
inline constexpr t_uscalar_t DL_FDDI = 0x8;

inline constexpr t_uscalar_t DL_CODLS = 0x01;
inline constexpr t_uscalar_t DL_CLDLS = 0x02;

inline constexpr t_uscalar_t DL_OUTSTATE = 0x03;
inline constexpr t_uscalar_t DL_SYSERR = 0x04;
inline constexpr t_uscalar_t DL_BADPPA = 0x08;

inline constexpr t_uscalar_t DL_UNATTACHED = 0x04;
inline constexpr t_uscalar_t DL_UNBOUND = 0x00;
inline constexpr t_uscalar_t DL_STYLE2 = 0x0500;
inline constexpr t_uscalar_t DL_VERSION_2 = 0x02;

struct dl_attach_req_t {
    t_uscalar_t dl_primitive;
    t_uscalar_t dl_ppa;
};

struct dl_info_req_t {
    t_uscalar_t dl_primitive;
};

struct dl_detach_req_t {
    t_uscalar_t dl_primitive;
};

struct dl_ok_ack_t {
    t_uscalar_t dl_primitive;
    t_uscalar_t dl_correct_primitive;
};

struct dl_error_ack_t {
    t_uscalar_t dl_primitive;
    t_uscalar_t dl_error_primitive;
    t_uscalar_t dl_errno;
    t_uscalar_t dl_unix_errno;
};

struct dl_info_ack_t {
    t_uscalar_t dl_primitive;
    t_uscalar_t dl_max_sdu;
    t_uscalar_t dl_min_sdu;
    t_uscalar_t dl_addr_length;
    t_uscalar_t dl_mac_type;
    t_uscalar_t dl_reserved;
    t_uscalar_t dl_current_state;
    t_scalar_t dl_sap_length;
    t_uscalar_t dl_service_mode;
    t_uscalar_t dl_qos_length;
    t_uscalar_t dl_qos_offset;
    t_uscalar_t dl_qos_range_length;
    t_uscalar_t dl_qos_range_offset;
    t_uscalar_t dl_provider_style;
    t_uscalar_t dl_addr_offset;
    t_uscalar_t dl_version;
    t_uscalar_t dl_brdcst_addr_length;
    t_uscalar_t dl_brdcst_addr_offset;
    t_uscalar_t dl_growth;
};

static_assert(sizeof(dl_attach_req_t) == 8);
static_assert(offsetof(dl_attach_req_t, dl_ppa) == 4);
static_assert(sizeof(dl_info_req_t) == 4);
static_assert(sizeof(dl_detach_req_t) == 4);
static_assert(sizeof(dl_ok_ack_t) == 8);
static_assert(offsetof(dl_ok_ack_t, dl_correct_primitive) == 4);
static_assert(sizeof(dl_error_ack_t) == 16);
static_assert(offsetof(dl_error_ack_t, dl_error_primitive) == 4);
static_assert(offsetof(dl_error_ack_t, dl_errno) == 8);
static_assert(offsetof(dl_error_ack_t, dl_unix_errno) == 12);
static_assert(sizeof(dl_info_ack_t) == 76);
static_assert(offsetof(dl_info_ack_t, dl_max_sdu) == 4);
static_assert(offsetof(dl_info_ack_t, dl_min_sdu) == 8);
static_assert(offsetof(dl_info_ack_t, dl_addr_length) == 12);
static_assert(offsetof(dl_info_ack_t, dl_mac_type) == 16);
static_assert(offsetof(dl_info_ack_t, dl_reserved) == 20);
static_assert(offsetof(dl_info_ack_t, dl_current_state) == 24);
static_assert(offsetof(dl_info_ack_t, dl_sap_length) == 28);
static_assert(offsetof(dl_info_ack_t, dl_service_mode) == 32);
static_assert(offsetof(dl_info_ack_t, dl_qos_length) == 36);
static_assert(offsetof(dl_info_ack_t, dl_qos_offset) == 40);
static_assert(offsetof(dl_info_ack_t, dl_qos_range_length) == 44);
static_assert(offsetof(dl_info_ack_t, dl_qos_range_offset) == 48);
static_assert(offsetof(dl_info_ack_t, dl_provider_style) == 52);
static_assert(offsetof(dl_info_ack_t, dl_addr_offset) == 56);
static_assert(offsetof(dl_info_ack_t, dl_version) == 60);
static_assert(offsetof(dl_info_ack_t, dl_brdcst_addr_length) == 64);
static_assert(offsetof(dl_info_ack_t, dl_brdcst_addr_offset) == 68);
static_assert(offsetof(dl_info_ack_t, dl_growth) == 72);

// dlpi_parselink results.
inline constexpr int DLPI_SUCCESS = 0;
inline constexpr int DLPI_ELINKNAMEINVAL = 10001;

// Room for a provider (link) name, terminator included.
inline constexpr std::size_t DLPI_LINKNAME_MAX = 32;

// Splits a link name into its provider name and instance: the instance is the
// trailing decimal digits (at most INT_MAX, so it reads back from a
// configuration file), the provider what precedes them, non-empty and shorter
// than DLPI_LINKNAME_MAX. The provider buffer holds DLPI_LINKNAME_MAX bytes.
// DLPI_SUCCESS, or DLPI_ELINKNAMEINVAL with provider and *instance untouched.
int dlpi_parselink(const char *linkname, char *provider, unsigned int *instance);

#endif
