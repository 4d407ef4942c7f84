// What the command tests share: the usage line, payload bytes built from
// host-order words, picking driver requests out of llc2sim's log, and the
// status table's debug lines.
#ifndef LLC2_TEST_CMD_UTIL_H
#define LLC2_TEST_CMD_UTIL_H

#include "sim_fixture.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace cmdtest
{

inline std::string usage_line()
{
    return "Usage: " + llc2test::llc2_binary() + " [-P|-U|-p <ppa>|-u <ppa>|-q]\n";
}

// The bytes of 32-bit words in the host's order, as the driver receives them.
// Built word by word, not from the tool's records, so a wrong field offset
// in a record shows up here.
inline std::vector<unsigned char> words(std::initializer_list<std::uint32_t> ws)
{
    std::vector<unsigned char> out;
    for (const std::uint32_t w : ws) {
        unsigned char b[4];
        std::memcpy(b, &w, sizeof b);
        out.insert(out.end(), b, b + 4);
    }
    return out;
}

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

} // namespace cmdtest

#endif
