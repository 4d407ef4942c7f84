// SPDX-License-Identifier: Apache-2.0
#include "scenario.h"

#include "dlpi.h"
#include "errnames.h"

#include <algorithm>
#include <array>
#include <climits>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <utility>

using nlohmann::json;

namespace
{

template <typename T> struct named {
    T value;
    std::string_view name;
};

constexpr named<req_kind> kind_names[] = {
    {req_kind::open, "open"},       {req_kind::enable, "enable"}, {req_kind::disable, "disable"},
    {req_kind::getppa, "getppa"},   {req_kind::init, "init"},     {req_kind::uninit, "uninit"},
    {req_kind::getlink, "getlink"}, {req_kind::setppa, "setppa"}, {req_kind::plink, "plink"},
    {req_kind::punlink, "punlink"}, {req_kind::attach, "attach"}, {req_kind::info, "info"},
    {req_kind::detach, "detach"}};

// The first three are keys of their own; the rest are values of "dlpi".
constexpr named<fault_action> action_names[] = {{fault_action::refuse, "errno"},
                                                {fault_action::noreply, "noreply"},
                                                {fault_action::delay, "delay_ms"},
                                                {fault_action::error_ack, "error_ack"},
                                                {fault_action::wrong_primitive, "wrong_primitive"},
                                                {fault_action::long_reply, "long"},
                                                {fault_action::data_part, "data"},
                                                {fault_action::short_reply, "short"},
                                                {fault_action::getmsg_errno, "getmsg_errno"},
                                                {fault_action::poll_errno, "poll_errno"}};
constexpr std::size_t first_dlpi_action = 3;

std::optional<fault_action> dlpi_action_from_name(std::string_view name)
{
    for (std::size_t i = first_dlpi_action; i < std::size(action_names); ++i)
        if (action_names[i].name == name)
            return action_names[i].value;
    return std::nullopt;
}

[[noreturn]] void bad(const std::string &where, const std::string &what)
{
    throw std::runtime_error(where + ": " + what);
}

// Typos in a scenario would otherwise silently do nothing.
void only_keys(const json &obj, const std::string &where, std::initializer_list<const char *> keys)
{
    if (!obj.is_object())
        bad(where, "must be an object");
    for (const auto &item : obj.items()) {
        const bool known =
            std::any_of(keys.begin(), keys.end(), [&](const char *k) { return item.key() == k; });
        if (!known)
            bad(where, "unknown key \"" + item.key() + "\"");
    }
}

long long get_int(const json &obj, const char *key, const std::string &where, long long lo,
                  long long hi)
{
    const json &v = obj.at(key);
    if (!v.is_number_integer())
        bad(where, std::string("\"") + key + "\" must be an integer");
    const long long n = v.get<long long>();
    if (n < lo || n > hi)
        bad(where, std::string("\"") + key + "\" out of range (" + std::to_string(lo) + " to " +
                       std::to_string(hi) + ")");
    return n;
}

std::string get_string(const json &obj, const char *key, const std::string &where)
{
    const json &v = obj.at(key);
    if (!v.is_string())
        bad(where, std::string("\"") + key + "\" must be a string");
    return v.get<std::string>();
}

int get_errno(const json &v, const std::string &where)
{
    if (v.is_number_integer()) {
        const long long n = v.get<long long>();
        if (n <= 0 || n > 4095)
            bad(where, "\"errno\" out of range");
        return static_cast<int>(n);
    }
    if (v.is_string()) {
        if (auto e = errno_from_name(v.get<std::string>()))
            return *e;
        bad(where, "unknown errno name \"" + v.get<std::string>() + "\"");
    }
    bad(where, "\"errno\" must be a name or a number");
}

mac_addr get_mac(const json &v, const std::string &where)
{
    if (!v.is_string())
        bad(where, "a MAC address must be a string");
    if (auto m = parse_mac(v.get<std::string>()))
        return *m;
    bad(where, "bad MAC address \"" + v.get<std::string>() + "\"");
}

dlpi_values get_dlpi(const json &obj, const std::string &where, dlpi_values d)
{
    only_keys(obj, where, {"mac_type", "max_sdu", "min_sdu", "service_mode"});
    auto field = [&](const char *key, std::uint32_t &out) {
        if (obj.contains(key))
            out = static_cast<std::uint32_t>(get_int(obj, key, where, 0, UINT32_MAX));
    };
    field("mac_type", d.mac_type);
    field("max_sdu", d.max_sdu);
    field("min_sdu", d.min_sdu);
    field("service_mode", d.service_mode);
    return d;
}

iface_conf get_interface(const json &obj, const std::string &where)
{
    only_keys(obj, where, {"name", "mac_type", "max_sdu", "min_sdu", "service_mode", "macs"});
    iface_conf ic;
    if (!obj.contains("name"))
        bad(where, "\"name\" is missing");
    ic.name = get_string(obj, "name", where);
    // The name becomes a file name beside llc2.
    if (ic.name.empty() || ic.name == "llc2" || ic.name == "." || ic.name == ".." ||
        ic.name.find('/') != std::string::npos || ic.name.find('\0') != std::string::npos)
        bad(where, "bad interface name \"" + ic.name + "\"");
    json dl = json::object();
    for (const char *k : {"mac_type", "max_sdu", "min_sdu", "service_mode"})
        if (obj.contains(k))
            dl[k] = obj[k];
    ic.dlpi = get_dlpi(dl, where, dlpi_values{});
    if (obj.contains("macs")) {
        if (!obj["macs"].is_array())
            bad(where, "\"macs\" must be an array");
        for (const auto &m : obj["macs"])
            ic.macs.push_back(get_mac(m, where));
    }
    return ic;
}

ctl_init get_params(const json &obj, const std::string &where)
{
    only_keys(obj, where,
              {"acktimer", "polltimer", "rejecttimer", "rembusytimer", "inacttimer", "maxretry",
               "xmitwindowsz", "rcvwindowsz", "timeinterval", "rsptimer"});
    ctl_init p{};
    p.msg_type = LLC2_CTL_INIT;
    const std::pair<const char *, std::uint16_t *> fields[] = {
        {"acktimer", &p.acktimer},         {"polltimer", &p.polltimer},
        {"rejecttimer", &p.rejecttimer},   {"rembusytimer", &p.rembusytimer},
        {"inacttimer", &p.inacttimer},     {"maxretry", &p.maxretry},
        {"xmitwindowsz", &p.xmitwindowsz}, {"rcvwindowsz", &p.rcvwindowsz},
        {"timeinterval", &p.timeinterval}, {"rsptimer", &p.rsptimer},
    };
    for (const auto &[key, out] : fields)
        if (obj.contains(key))
            *out = static_cast<std::uint16_t>(get_int(obj, key, where, 0, 65535));
    return p;
}

ppa_conf get_ppa(const json &obj, const std::string &where)
{
    only_keys(obj, where,
              {"ppa", "interface", "instance", "state", "id", "mac", "answer_ppa", "link_id",
               "params", "dlpi"});
    ppa_conf pc;
    if (!obj.contains("ppa"))
        bad(where, "\"ppa\" is missing");
    pc.ppa = static_cast<int>(get_int(obj, "ppa", where, 0, 255));
    if (obj.contains("interface"))
        pc.interface = get_string(obj, "interface", where);
    if (obj.contains("instance"))
        pc.instance = static_cast<int>(get_int(obj, "instance", where, 0, INT_MAX));
    if (obj.contains("state"))
        pc.state = static_cast<std::uint8_t>(get_int(obj, "state", where, 0, 255));
    if (obj.contains("id"))
        pc.id = static_cast<std::uint16_t>(get_int(obj, "id", where, 0, 65535));
    if (obj.contains("mac"))
        pc.mac = get_mac(obj["mac"], where);
    if (obj.contains("answer_ppa"))
        pc.answer_ppa = static_cast<std::uint8_t>(get_int(obj, "answer_ppa", where, 0, 255));
    if (obj.contains("link_id"))
        pc.link_id = static_cast<int>(get_int(obj, "link_id", where, 0, INT_MAX));
    if (obj.contains("params"))
        pc.params = get_params(obj["params"], where + " params");
    if (obj.contains("dlpi")) {
        if (!obj["dlpi"].is_object())
            bad(where, "\"dlpi\" must be an object");
        pc.dlpi = dlpi_values{}; // merged with the interface's once that is known
    }
    return pc;
}

fault get_fault(const json &obj, const std::string &where)
{
    only_keys(obj, where,
              {"request", "ppa", "device", "skip", "count", "errno", "noreply", "delay_ms", "dlpi",
               "dl_errno", "unix_errno", "primitive", "extra", "length"});
    fault f;
    if (!obj.contains("request"))
        bad(where, "\"request\" is missing");
    const std::string req = get_string(obj, "request", where);
    auto k = req_kind_from_name(req);
    if (!k)
        bad(where, "unknown request \"" + req + "\"");
    f.request = *k;
    if (obj.contains("ppa")) {
        // Such a fault could never fire.
        if (f.request == req_kind::open || f.request == req_kind::plink)
            bad(where, "\"" + req + "\" names no PPA");
        f.ppa = static_cast<int>(get_int(obj, "ppa", where, INT_MIN, INT_MAX));
    }
    if (obj.contains("device"))
        f.device = get_string(obj, "device", where);
    if (obj.contains("skip"))
        f.skip = static_cast<int>(get_int(obj, "skip", where, 0, INT_MAX));
    if (obj.contains("count"))
        f.count = static_cast<int>(get_int(obj, "count", where, 0, INT_MAX));

    // Exactly one action; under "dlpi": "getmsg_errno" or "poll_errno", "errno"
    // is the errno of that call.
    const bool has_dlpi = obj.contains("dlpi");
    const int actions = (obj.contains("errno") && !has_dlpi ? 1 : 0) +
                        (obj.contains("noreply") ? 1 : 0) + (obj.contains("delay_ms") ? 1 : 0) +
                        (has_dlpi ? 1 : 0);
    if (actions != 1)
        bad(where, "needs exactly one of \"errno\", \"noreply\", \"delay_ms\", \"dlpi\"");
    if (obj.contains("noreply")) {
        if (!obj["noreply"].is_boolean() || !obj["noreply"].get<bool>())
            bad(where, "\"noreply\" must be true");
        f.action = fault_action::noreply;
    } else if (obj.contains("delay_ms")) {
        f.action = fault_action::delay;
        f.delay_ms = static_cast<int>(get_int(obj, "delay_ms", where, 0, 3600000));
    } else if (!has_dlpi) {
        f.action = fault_action::refuse;
        f.err = get_errno(obj["errno"], where);
    } else {
        if (!is_dlpi(f.request))
            bad(where, "\"dlpi\" needs request attach, info or detach");
        const std::string how = get_string(obj, "dlpi", where);
        const std::optional<fault_action> action = dlpi_action_from_name(how);
        if (!action)
            bad(where, "unknown \"dlpi\" value \"" + how + "\"");
        f.action = *action;
        if (f.action == fault_action::getmsg_errno || f.action == fault_action::poll_errno) {
            if (!obj.contains("errno"))
                bad(where, "\"" + how + "\" needs \"errno\"");
            f.err = get_errno(obj["errno"], where);
        }
    }
    if (obj.contains("dl_errno"))
        f.dl_errno = static_cast<std::uint32_t>(get_int(obj, "dl_errno", where, 0, UINT32_MAX));
    if (obj.contains("unix_errno"))
        f.unix_errno =
            obj["unix_errno"].is_string()
                ? static_cast<std::uint32_t>(get_errno(obj["unix_errno"], where))
                : static_cast<std::uint32_t>(get_int(obj, "unix_errno", where, 0, UINT32_MAX));
    if (obj.contains("primitive"))
        f.primitive = static_cast<std::uint32_t>(get_int(obj, "primitive", where, 0, UINT32_MAX));
    if (obj.contains("extra"))
        f.extra = static_cast<int>(get_int(obj, "extra", where, 1, 4096 - 76));
    if (obj.contains("length"))
        f.length = static_cast<int>(get_int(obj, "length", where, 0, 75));
    return f;
}

} // namespace

std::optional<req_kind> req_kind_from_name(std::string_view name)
{
    for (const auto &[k, n] : kind_names)
        if (n == name)
            return k;
    return std::nullopt;
}

std::string_view req_kind_name(req_kind k)
{
    for (const auto &[kk, n] : kind_names)
        if (kk == k)
            return n;
    return "?";
}

std::string_view fault_action_name(fault_action a)
{
    for (const auto &[aa, n] : action_names)
        if (aa == a)
            return n;
    return "?";
}

bool is_dlpi(req_kind k)
{
    return k == req_kind::attach || k == req_kind::info || k == req_kind::detach;
}

std::optional<mac_addr> parse_mac(std::string_view text)
{
    if (text.size() != 17)
        return std::nullopt;
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    mac_addr m{};
    for (std::size_t i = 0; i < 6; ++i) {
        const int hi = hex(text[i * 3]);
        const int lo = hex(text[i * 3 + 1]);
        if (hi < 0 || lo < 0 || (i < 5 && text[i * 3 + 2] != ':'))
            return std::nullopt;
        m[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return m;
}

scenario default_scenario()
{
    scenario s;
    iface_conf ic;
    ic.name = "xnic";
    ic.macs = {mac_addr{0x02, 0x00, 0x00, 0xa1, 0xb2, 0xc3},
               mac_addr{0x02, 0x00, 0x00, 0xa1, 0xb2, 0xc4}};
    s.interfaces.push_back(ic);
    return s;
}

namespace
{

scenario from_doc(json &doc)
{
    only_keys(doc, "scenario", {"interfaces", "ppas", "faults"});
    scenario s;
    auto array_of = [&](const char *key) -> const json & {
        static const json empty = json::array();
        if (!doc.contains(key))
            return empty;
        if (!doc[key].is_array())
            bad(key, "must be an array");
        return doc[key];
    };

    std::set<std::string> names;
    for (std::size_t i = 0; i < array_of("interfaces").size(); ++i) {
        const std::string where = "interfaces[" + std::to_string(i) + "]";
        iface_conf ic = get_interface(doc["interfaces"][i], where);
        if (!names.insert(ic.name).second)
            bad(where, "interface \"" + ic.name + "\" given twice");
        s.interfaces.push_back(std::move(ic));
    }
    if (!doc.contains("interfaces"))
        s.interfaces = default_scenario().interfaces;

    std::set<int> ppas;
    std::set<int> links;
    for (std::size_t i = 0; i < array_of("ppas").size(); ++i) {
        const std::string where = "ppas[" + std::to_string(i) + "]";
        const json &obj = doc["ppas"][i];
        ppa_conf pc = get_ppa(obj, where);
        if (pc.interface.empty()) {
            if (s.interfaces.empty())
                bad(where, "there is no interface to put it on");
            pc.interface = s.interfaces.front().name;
        }
        auto ic = std::find_if(s.interfaces.begin(), s.interfaces.end(),
                               [&](const iface_conf &c) { return c.name == pc.interface; });
        if (ic == s.interfaces.end())
            bad(where, "no interface \"" + pc.interface + "\"");
        if (pc.dlpi)
            pc.dlpi = get_dlpi(obj["dlpi"], where + " dlpi", ic->dlpi);
        if (!ppas.insert(pc.ppa).second)
            bad(where, "PPA " + std::to_string(pc.ppa) + " given twice");
        if (pc.link_id && !links.insert(*pc.link_id).second)
            bad(where, "link_id " + std::to_string(*pc.link_id) + " given twice");
        s.ppas.push_back(std::move(pc));
    }

    for (std::size_t i = 0; i < array_of("faults").size(); ++i)
        s.faults.push_back(get_fault(doc["faults"][i], "faults[" + std::to_string(i) + "]"));
    return s;
}

} // namespace

scenario parse_scenario(std::string_view json_text)
{
    json doc;
    try {
        doc = json::parse(json_text);
    } catch (const json::parse_error &e) {
        throw std::runtime_error(std::string("not JSON: ") + e.what());
    }
    try {
        return from_doc(doc);
    } catch (const json::exception &e) {
        throw std::runtime_error(e.what());
    }
}
