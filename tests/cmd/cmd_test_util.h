// SPDX-License-Identifier: Apache-2.0
// What the command tests share: the usage line, payload bytes built from
// host-order words, picking driver requests out of llc2sim's log, and the
// status table's debug lines.
#ifndef LLC2_TEST_CMD_UTIL_H
#define LLC2_TEST_CMD_UTIL_H

#include "applied.h"
#include "link_journal.h"
#include "sim_fixture.h"
#include "streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace cmdtest
{

inline std::string usage_line()
{
    return "Usage: " + llc2test::llc2_binary() + " [-P|-U|-p <ppa>|-u <ppa>|-q]\n";
}

// Expected payloads are built word by word, not from the tool's records, so a
// wrong field offset in a record shows up.
using llc2test::words;

// The ioctl and link records of the log, in order: what reached the driver.
inline std::vector<nlohmann::json> requests(const llc2test::SimRoot &r)
{
    std::vector<nlohmann::json> out;
    for (nlohmann::json &rec : r.log()) {
        const std::string kind = rec.value("kind", "");
        if (kind == "ioctl" || kind == "link" || kind == "unlink")
            out.push_back(std::move(rec));
    }
    return out;
}

// The DLPI traffic of the log in order, one word a step: the request of
// every putmsg ("attach", "info", "detach") and "flush" for every flush.
inline std::string dlpi_steps(const llc2test::SimRoot &r)
{
    std::string s;
    for (const nlohmann::json &rec : r.log()) {
        const std::string kind = rec.value("kind", "");
        if (kind == "putmsg" || kind == "flush")
            s += (s.empty() ? "" : " ") + (kind == "flush" ? kind : rec.value("request", "?"));
    }
    return s;
}

// What -d writes while the status table scans PPAs 0 to 63, with extra after
// the line of each PPA it names.
inline std::string checking(const std::vector<std::pair<int, std::string>> &extra = {})
{
    std::string s;
    for (int ppa = 0; ppa < 64; ++ppa) {
        s += "Checking PPA " + std::to_string(ppa) + "\n";
        for (const auto &[at, text] : extra)
            s += at == ppa ? text : "";
    }
    return s;
}

inline std::vector<unsigned char> payload(const nlohmann::json &rec)
{
    return llc2test::unhex(rec.at("payload").get<std::string>());
}

// One line per stream opened and per request that reached the driver, read
// from the payload bytes at the driver's offsets (not through the tool's
// records): "a open llc2", "a PLINK xnic 1 ok", "a PUNLINK 1 ok", and for
// ioctls the name and payload fields: "a SETPPA 3 15 1 0 ok" (also GETLINK),
// "a ENABLE -1 3 ok" (DISABLE), "a UNINIT 3 ok", "a GETPPA 5 EIO",
// "a INIT 3 <ack poll rej rembusy inact retry xmit rcv timeinterval rsp> ok".
// Streams are lettered in the order they opened; a length other than the
// request's, or a timeout other than 10, shows as "len=" / "timout=".
inline std::vector<std::string> trace(const std::vector<nlohmann::json> &log)
{
    std::map<int, char> letters;
    std::vector<std::string> out;
    for (const nlohmann::json &rec : log) {
        const std::string kind = rec.value("kind", "");
        const int stream = rec.value("stream", -1);
        if (kind == "open")
            letters.emplace(stream, static_cast<char>('a' + letters.size()));
        std::ostringstream line;
        line << letters[stream] << ' ';
        const std::vector<unsigned char> b =
            rec.contains("payload") ? payload(rec) : std::vector<unsigned char>{};
        auto i32 = [&](std::size_t off) {
            std::int32_t v = 0;
            if (off + 4 <= b.size())
                std::memcpy(&v, &b[off], 4);
            return v;
        };
        auto u16 = [&](std::size_t off) {
            std::uint16_t v = 0;
            if (off + 2 <= b.size())
                std::memcpy(&v, &b[off], 2);
            return v;
        };
        const int cmd = rec.value("ic_cmd", 0);
        const bool init = cmd == 0x49000008 && i32(4) == 0x4C000001;
        const std::map<int, std::size_t> lengths{
            {1, 44}, {2, 8}, {0x0A, 10}, {0x49000008, 8}, {0x4C00000A, 16}, {0x4C00000B, 16}};
        const std::size_t len = init ? 32 : lengths.contains(cmd) ? lengths.at(cmd) : 0;
        if (kind == "open")
            line << "open " << rec.value("device", "");
        else if (kind == "link")
            line << "PLINK " << rec.value("lower_device", "") << ' ' << rec.value("link_id", -2);
        else if (kind == "unlink")
            line << "PUNLINK " << rec.value("link_id", -2);
        else if (kind != "ioctl")
            continue;
        else if (cmd == 1 || cmd == 2)
            line << (cmd == 1 ? "ENABLE " : "DISABLE ") << i32(0) << ' ' << i32(4);
        else if (cmd == 0x0A)
            line << "GETPPA " << (b.empty() ? -1 : b[0]);
        else if (init) {
            line << "INIT " << i32(0);
            for (std::size_t off = 8; off < 28; off += 2)
                line << ' ' << u16(off);
        } else if (cmd == 0x49000008)
            line << "UNINIT " << i32(0);
        else if (cmd == 0x4C00000A || cmd == 0x4C00000B)
            line << (cmd == 0x4C00000A ? "GETLINK " : "SETPPA ") << i32(0) << ' ' << i32(4) << ' '
                 << i32(8) << ' ' << i32(12);
        else
            line << "ic_cmd=" << cmd;
        if (kind == "ioctl" &&
            (b.size() != len || rec.value("ic_len", -1) != static_cast<int>(len)))
            line << " len=" << rec.value("ic_len", -1);
        if (kind == "ioctl" && rec.value("ic_timout", -1) != 10)
            line << " timout=" << rec.value("ic_timout", -1);
        const std::string result = rec.value("result", "");
        if (kind != "open" || result != "ok")
            line << ' ' << result;
        out.push_back(line.str());
    }
    return out;
}

inline std::vector<std::string> trace(const llc2test::SimRoot &r)
{
    return trace(r.log());
}

// The requests after the first skip, streams unlettered, without the probes
// (GETPPA, and the GETLINKs of recorded links before any work) and the
// opens: what a run changed.
inline std::vector<std::string> work_since(const llc2test::SimRoot &r, std::size_t skip)
{
    const std::vector<std::string> all = trace(r);
    std::vector<std::string> out;
    for (auto line = all.begin() + static_cast<long>(skip); line != all.end(); ++line)
        if (line->find(" GETPPA ") == std::string::npos &&
            line->find(" open ") == std::string::npos &&
            (!out.empty() || line->find(" GETLINK ") == std::string::npos))
            out.push_back(line->substr(2));
    return out;
}

// PPA ppa's applied record, both parts, as llc2 run under r reads them.
struct record_parts {
    std::optional<plumbed_link> link;
    std::optional<applied_params> params;
    explicit operator bool() const { return link || params; }
};

// Runs f with LLC2_ROOT set to r's root, as llc2 under r would.
template <typename F> auto under_root(const llc2test::SimRoot &r, F f)
{
    ::setenv("LLC2_ROOT", r.root().c_str(), 1);
    auto got = f();
    ::unsetenv("LLC2_ROOT");
    return got;
}

inline record_parts applied_of(const llc2test::SimRoot &r, int ppa)
{
    return under_root(r, [ppa] {
        return record_parts{read_link_part(ppa), read_params_part(ppa)};
    });
}

// Writes PPA ppa's record as a run that plumbed it on link and initialised
// it with every parameter at 1 would have; the driver's id and MAC address
// as in now. params: whether the parameter part is written too.
inline void seed_record(const llc2test::SimRoot &r, int ppa, const plumbed_link &link,
                        const ppa_info *now, bool params = true)
{
    under_root(r, [&] {
        int rc = record_link(ppa, link);
        ctl_init sent{};
        for (const init_param &p : INIT_PARAMS)
            sent.*p.field = 1;
        if (params && rc == 0)
            rc = record_params(ppa, sent, now);
        EXPECT_EQ(rc, 0);
        return rc;
    });
}

// text with its line of line's keyword replaced by line: "acktimer=4".
inline std::string with_line(std::string text, const std::string &line)
{
    const std::string key = line.substr(0, line.find('=') + 1);
    const std::size_t at = text.starts_with(key) ? 0 : text.find("\n" + key) + 1;
    text.replace(at, text.find('\n', at) - at, line);
    return text;
}

// Writes PPA ppa's record as -p would have left it for the file text conf
// on link link_id, the driver reporting now: parts "link", "params" or
// "both"; "unconfirmed" writes the parameters not yet confirmed.
inline void seed_for_file(const llc2test::SimRoot &r, int ppa, std::string conf, int link_id,
                          const ppa_info &now, const std::string &parts)
{
    conf_values v;
    EXPECT_EQ(read_conf_and_close(fmemopen(conf.data(), conf.size(), "r"), v), 0);
    under_root(r, [&] {
        int rc = 0;
        if (parts == "link" || parts == "both")
            rc = record_link(ppa, {v.devicename.data(), v.instance, link_id});
        if (parts != "link" && rc == 0)
            rc = record_params(ppa, make_ctl_init(ppa, v.params.data()),
                               parts == "unconfirmed" ? nullptr : &now);
        EXPECT_EQ(rc, 0);
        return rc;
    });
}

// The applied records' directory under a root: <run-state dir>/llc2.
inline std::string run_state_rel()
{
    return std::string(LLC2_RUNSTATEDIR).substr(1) + "/llc2";
}

// llc2 args started under r in a child of its own: its pid.
inline pid_t start_llc2(const llc2test::SimRoot &r, const std::vector<std::string> &args)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("LLC2_ROOT", r.root().c_str(), 1);
        std::vector<char *> argv{const_cast<char *>("llc2")};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(llc2test::llc2_binary().c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

// Ends a run start_llc2 began (SIGKILL) and reaps it.
inline void kill_llc2(pid_t pid)
{
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

// llc2 args run under r and killed once llc2sim has logged the nth request
// whose trace line has step (" SETPPA "): false when none came in time.
inline bool kill_llc2_at(const llc2test::SimRoot &r, const std::vector<std::string> &args,
                         const char *step, int nth = 1)
{
    const pid_t pid = start_llc2(r, args);
    if (pid < 0)
        return false;
    const bool asked = r.wait_log([step, nth](const std::vector<nlohmann::json> &log) {
        return std::ranges::count_if(trace(log), [step](const std::string &line) {
                   return line.find(step) != std::string::npos;
               }) >= nth;
    });
    kill_llc2(pid);
    return asked;
}

// A link of xnic made on a stream of the test's own and bound to nothing,
// as a run killed after I_PLINK leaves it; journaled for ppa unless ppa < 0.
inline int leave_link(const llc2test::SimRoot &r, int ppa)
{
    const int ctl = stream_open(r.dev("llc2").c_str(), O_RDWR);
    const int lower = stream_open(r.dev("xnic").c_str(), O_RDWR);
    const int id = stream_link(ctl, lower);
    stream_close(lower);
    stream_close(ctl);
    if (ppa >= 0)
        under_root(r, [&] { return journal_link(id, ppa); });
    return id;
}

} // namespace cmdtest

#endif
