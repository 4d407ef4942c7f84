// The applied records: one small text file per PPA in <run-state dir>/llc2,
// written by the configuration writer's rules and read back strictly, since
// a record that is not exactly what llc2 wrote says nothing we could trust.
#include "applied.h"

#include "control.h"
#include "durable_file.h"
#include "paths.h"
#include "scan.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <libintl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The first line; it also marks the format: a record written otherwise is
// none.
constexpr std::string_view HEADER =
    "# llc2's own record of what it gave the driver; nothing else reads or writes it";

// A record with the longest device name is about 1.3 KiB.
constexpr std::size_t RECORD_MAX = 4096;

constexpr const char *AT = "at";
constexpr const char *ID = "id";
constexpr const char *MAC = "mac";
constexpr const char *LINK_ID = "link_id";

// INIT_PARAMS's places in the order of the configuration file's keywords,
// the order of the record's lines and of pending_keywords; conf_params is
// indexed in that order.
constexpr std::array<std::size_t, INIT_PARAMS.size()> file_order()
{
    std::array<std::size_t, INIT_PARAMS.size()> order{};
    std::size_t n = 0;
    for (int index = 0; index < CONF_NPARAMS; ++index)
        for (std::size_t i = 0; i < INIT_PARAMS.size(); ++i)
            if (INIT_PARAMS.at(i).conf_index == index)
                order.at(n++) = i;
    return order;
}
constexpr std::array<std::size_t, INIT_PARAMS.size()> FILE_ORDER = file_order();

std::string record_name(int ppa)
{
    return "ppa." + std::to_string(ppa);
}

std::string record_path(int ppa)
{
    return applied_dir() + "/" + record_name(ppa);
}

// The warning for err, when it is one: 0, or -1 after it.
int warned(int ppa, int err)
{
    if (err != 0)
        std::fprintf(stderr, gettext("Cannot record PPA %d: %s\n"), ppa, std::strerror(err));
    return err != 0 ? -1 : 0;
}

std::string mac_text(const std::array<std::uint8_t, 6> &mac)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string s;
    for (const std::uint8_t b : mac) {
        s += digits[b >> 4U];
        s += digits[b & 0xfU];
    }
    return s;
}

std::string render(const applied_record &rec)
{
    std::string s(HEADER);
    auto line = [&s](const char *key, std::string_view value) {
        s.append("\n").append(key).append("=").append(value);
    };
    line(DEV_NAME, rec.devicename);
    line(DEV_INSTANCE, std::to_string(rec.instance));
    for (const std::size_t i : FILE_ORDER)
        line(*INIT_PARAMS.at(i).keyword, std::to_string(rec.sent.at(i)));
    line(AT, iso_utc(rec.at));
    line(ID, std::to_string(rec.id));
    line(MAC, mac_text(rec.mac));
    line(LINK_ID, std::to_string(rec.link_id));
    return s + "\n";
}

// A whole decimal number in [low, high], written as llc2 writes it: no sign
// but a minus, no leading zero, no blank.
bool whole(std::string_view text, long long low, long long high, long long &v)
{
    const char *end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, v);
    return ec == std::errc() && stop == end && v >= low && v <= high && std::to_string(v) == text;
}

bool parse_at(std::string_view text, std::time_t &t)
{
    constexpr std::string_view shape = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == 'd' ? text[i] < '0' || text[i] > '9' : text[i] != shape[i])
            return false;
    auto num = [text](std::size_t at, std::size_t len) {
        std::time_t n = 0;
        for (std::size_t i = at; i < at + len; ++i)
            n = n * 10 + (text[i] - '0');
        return n;
    };
    using namespace std::chrono;
    const sys_days date{year{static_cast<int>(num(0, 4))} /
                        month{static_cast<unsigned>(num(5, 2))} /
                        day{static_cast<unsigned>(num(8, 2))}};
    t = static_cast<std::time_t>(date.time_since_epoch().count()) * 86400 + num(11, 2) * 3600 +
        num(14, 2) * 60 + num(17, 2);
    // A 30 February or a 25th hour is carried over into the next month or
    // day: only a time that reads back the same is one.
    return iso_utc(t) == text;
}

bool parse_mac(std::string_view text, std::array<std::uint8_t, 6> &mac)
{
    if (text.size() != 2 * mac.size())
        return false;
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const char *from = text.data() + 2 * i;
        const auto [stop, ec] = std::from_chars(from, from + 2, mac.at(i), 16);
        if (ec != std::errc() || stop != from + 2)
            return false;
    }
    return mac_text(mac) == text; // lower case only
}

// The values of the lines after the header, one a key, in order, when each
// begins with its keyword and "=" and nothing follows the last.
bool split(std::string_view text, const std::vector<const char *> &keys,
           std::vector<std::string_view> &values)
{
    if (!text.starts_with(HEADER) || text.substr(HEADER.size(), 1) != "\n")
        return false;
    text.remove_prefix(HEADER.size() + 1);
    for (const std::string_view key : keys) {
        const std::size_t eol = text.find('\n');
        const std::string_view line = text.substr(0, eol);
        if (eol == std::string_view::npos || !line.starts_with(key) ||
            line.substr(key.size(), 1) != "=")
            return false;
        values.push_back(line.substr(key.size() + 1));
        text.remove_prefix(eol + 1);
    }
    return text.empty();
}

bool parse(std::string_view text, applied_record &rec)
{
    if (text.find('\0') != std::string_view::npos)
        return false;
    std::vector<const char *> keys{DEV_NAME, DEV_INSTANCE};
    for (const std::size_t i : FILE_ORDER)
        keys.push_back(*INIT_PARAMS.at(i).keyword);
    keys.insert(keys.end(), {AT, ID, MAC, LINK_ID});
    std::vector<std::string_view> v;
    if (!split(text, keys, v) || v[0].size() >= LLC2_DEVNAME_SIZE)
        return false;
    applied_record out;
    out.devicename = v[0];
    long long n = 0;
    if (!whole(v[1], INT_MIN, INT_MAX, n))
        return false;
    out.instance = static_cast<int>(n);
    for (std::size_t k = 0; k < FILE_ORDER.size(); ++k) {
        if (!whole(v[2 + k], 0, UINT16_MAX, n))
            return false;
        out.sent.at(FILE_ORDER.at(k)) = static_cast<std::uint16_t>(n);
    }
    const std::size_t rest = 2 + FILE_ORDER.size();
    if (!parse_at(v[rest], out.at) || !whole(v[rest + 1], 0, UINT16_MAX, n))
        return false;
    out.id = static_cast<std::uint16_t>(n);
    if (!parse_mac(v[rest + 2], out.mac) || !whole(v[rest + 3], -1, INT_MAX, n))
        return false;
    out.link_id = static_cast<int>(n);
    rec = out;
    return true;
}

} // namespace

std::string iso_utc(std::time_t t)
{
    std::tm tm{};
    std::array<char, 32> buf{};
    if (gmtime_r(&t, &tm) == nullptr ||
        std::strftime(buf.data(), buf.size(), "%Y-%m-%dT%H:%M:%SZ", &tm) == 0)
        return "";
    return buf.data();
}

std::string applied_dir(void)
{
    return rooted_path(LLC2_RUNSTATEDIR "/llc2");
}

int write_applied(int ppa, const applied_record &rec)
{
    const std::string dir = applied_dir() + "/";
    std::string failed;
    int err = make_dirs(dir, nullptr, failed);
    if (err == 0)
        err = replace_file(dir, record_name(ppa), render(rec), 0644);
    return warned(ppa, err);
}

int remove_applied(int ppa)
{
    if (unlink(record_path(ppa).c_str()) != 0)
        return errno == ENOENT || errno == ENOTDIR ? 0 : warned(ppa, errno);
    return warned(ppa, sync_dir(applied_dir().c_str()));
}

std::vector<int> applied_ppas(void)
{
    std::vector<int> ppas;
    DIR *dir = opendir(applied_dir().c_str());
    if (dir == nullptr)
        return ppas;
    while (const dirent *entry = readdir(dir)) {
        // Only the names llc2 writes: "ppa." and a number as to_string
        // spells it.
        const std::string_view name = entry->d_name;
        long long ppa = 0;
        if (name.starts_with("ppa.") && whole(name.substr(4), INT_MIN, INT_MAX, ppa))
            ppas.push_back(static_cast<int>(ppa));
    }
    closedir(dir);
    std::sort(ppas.begin(), ppas.end());
    return ppas;
}

bool read_applied(int ppa, applied_record &rec)
{
    const std::string path = record_path(ppa);
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {
    };
    std::string text;
    const bool read_whole = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                            // One byte more than a record may hold, so that an
                            // oversize one shows.
                            read_head(fd, RECORD_MAX + 1, text) == 0;
    close(fd);
    // Oversize is damaged: nothing llc2 writes is that long.
    return read_whole && text.size() <= RECORD_MAX && parse(text, rec);
}

bool applied_matches(const applied_record &rec, const ppa_info &now)
{
    return rec.id == now.id && std::memcmp(rec.mac.data(), now.mac, rec.mac.size()) == 0;
}

applied_record make_applied(const char *devicename, int instance, const ctl_init &sent,
                            const ppa_info &now, int link_id)
{
    applied_record rec;
    rec.devicename = devicename;
    rec.instance = instance;
    for (std::size_t i = 0; i < INIT_PARAMS.size(); ++i)
        rec.sent.at(i) = sent.*INIT_PARAMS.at(i).field;
    rec.at = std::time(nullptr);
    rec.id = now.id;
    std::memcpy(rec.mac.data(), now.mac, rec.mac.size());
    rec.link_id = link_id;
    return rec;
}

std::vector<const char *> pending_keywords(const applied_record &rec, const conf_values &conf)
{
    std::vector<const char *> out;
    if (rec.devicename != conf.devicename.data())
        out.push_back(DEV_NAME);
    if (rec.instance != conf.instance)
        out.push_back(DEV_INSTANCE);
    for (const std::size_t i : FILE_ORDER) {
        const init_param &p = INIT_PARAMS.at(i);
        if (init_param_value(p, conf.params.at(static_cast<std::size_t>(p.conf_index))) !=
            rec.sent.at(i))
            out.push_back(*p.keyword);
    }
    return out;
}

void record_initialised(int ppa, int fd, const ctl_init &sent, const conf_values &conf,
                        const plumbed_link *link)
{
    if (ppa < 0 || ppa > LLC2_GETPPA_MAX) {
        // The driver cannot be asked how it sees the PPA, so nothing could
        // recognise the record later.
        (void)unlink(record_path(ppa).c_str());
        std::fprintf(stderr, gettext("Cannot record PPA %d: %s\n"), ppa, unaskable_reason());
        return;
    }
    ppa_info now{};
    now.ppa = static_cast<std::uint8_t>(ppa);
    if (llc2_request(fd, LLC2_IOC_GETPPA, now) < 0) {
        // The old record, if any, no longer says what the driver was given.
        const int err = errno;
        (void)unlink(record_path(ppa).c_str());
        (void)warned(ppa, err);
        return;
    }
    applied_record old;
    if (link != nullptr)
        (void)write_applied(
            ppa, make_applied(link->devicename.c_str(), link->instance, sent, now, link->link_id));
    else if (read_applied(ppa, old) && applied_matches(old, now))
        (void)write_applied(
            ppa, make_applied(old.devicename.c_str(), old.instance, sent, now, old.link_id));
    else
        (void)write_applied(ppa,
                            make_applied(conf.devicename.data(), conf.instance, sent, now, -1));
}
