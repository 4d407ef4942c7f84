// What the command tests share: the usage line, payload bytes built from
// host-order words, and picking driver requests out of llc2sim's log.
#ifndef LLC2_TEST_CMD_UTIL_H
#define LLC2_TEST_CMD_UTIL_H

#include "sim_fixture.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
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

inline std::vector<unsigned char> payload(const nlohmann::json &rec)
{
    return llc2test::unhex(rec.at("payload").get<std::string>());
}

// One line per stream opened and per request that reached the driver, read
// from the payload bytes at the driver's offsets (not through the tool's
// records), for comparing whole exchanges at a glance:
//   "a open llc2"  "b open xnic"  "a PLINK xnic 1 ok"  "a PUNLINK 1 ok"
//   "a SETPPA 3 15 1 0 ok"  "a GETLINK 3 15 0 0 ok"  "a ENABLE -1 3 ok"
//   "a DISABLE 0 3 ok"  "a UNINIT 3 ok"  "a GETPPA 5 EIO"
//   "a INIT 3 <ack poll rej rembusy inact retry xmit rcv timeinterval rsp> ok"
// Streams are lettered in the order they were opened. A timeout other than
// 10 or a length other than the request's shows as "timout=" or "len=".
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
        line << (letters.contains(stream) ? letters[stream] : '?') << ' ';
        if (kind == "open") {
            line << "open " << rec.value("device", "");
            if (rec.value("result", "") != "ok")
                line << ' ' << rec.value("result", "");
            out.push_back(line.str());
            continue;
        }
        if (kind == "link") {
            line << "PLINK " << rec.value("lower_device", "") << ' ' << rec.value("link_id", -2);
        } else if (kind == "unlink") {
            line << "PUNLINK " << rec.value("link_id", -2);
        } else if (kind == "ioctl") {
            const std::vector<unsigned char> b = payload(rec);
            auto i32 = [&](std::size_t off) {
                std::int32_t v = 0;
                if (off + 4 <= b.size())
                    std::memcpy(&v, b.data() + off, 4);
                return v;
            };
            auto u16 = [&](std::size_t off) {
                std::uint16_t v = 0;
                if (off + 2 <= b.size())
                    std::memcpy(&v, b.data() + off, 2);
                return v;
            };
            const int cmd = rec.value("ic_cmd", 0);
            std::size_t want_len = 0;
            switch (cmd) {
            case 1:
                line << "ENABLE " << i32(0) << ' ' << i32(4);
                want_len = 44;
                break;
            case 2:
                line << "DISABLE " << i32(0) << ' ' << i32(4);
                want_len = 8;
                break;
            case 0x0A:
                line << "GETPPA " << (b.empty() ? -1 : static_cast<int>(b[0]));
                want_len = 10;
                break;
            case 0x49000008:
                if (static_cast<std::uint32_t>(i32(4)) == 0x4C000001U) {
                    line << "INIT " << i32(0);
                    for (std::size_t off = 8; off < 28; off += 2)
                        line << ' ' << u16(off);
                    want_len = 32;
                } else {
                    line << "UNINIT " << i32(0);
                    want_len = 8;
                }
                break;
            case 0x4C00000A:
            case 0x4C00000B:
                line << (cmd == 0x4C00000A ? "GETLINK " : "SETPPA ") << i32(0) << ' ' << i32(4)
                     << ' ' << i32(8) << ' ' << i32(12);
                want_len = 16;
                break;
            default:
                line << "ic_cmd=" << cmd;
            }
            if (b.size() != want_len || rec.value("ic_len", -1) != static_cast<int>(want_len))
                line << " len=" << rec.value("ic_len", -1);
            if (rec.value("ic_timout", -1) != 10)
                line << " timout=" << rec.value("ic_timout", -1);
        } else {
            continue;
        }
        line << ' ' << rec.value("result", "");
        out.push_back(line.str());
    }
    return out;
}

inline std::vector<std::string> trace(const llc2test::SimRoot &r)
{
    return trace(r.log());
}

} // namespace cmdtest

#endif
