// SPDX-License-Identifier: Apache-2.0
// The applied records: two small text files per PPA in <run-state dir>/llc2,
// "ppa.<n>.link" and "ppa.<n>.params", replaced atomically and read back
// strictly, since a record that is not exactly what llc2 wrote says nothing
// we could trust. The directory is emptied at boot and a record is trusted
// only once the driver confirms it, so nothing here is synced to disk.
#include "applied.h"

#include "control.h"
#include "durable_file.h"
#include "mac_text.h"
#include "paths.h"
#include "whole_number.h"

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
#include <limits>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The first line; it also marks the format: a record written otherwise is
// none.
constexpr std::string_view HEADER =
    "# llc2's own record of what it gave the driver; nothing else reads or writes it";

// A part with the longest device name is about 1.1 KiB.
constexpr std::size_t RECORD_MAX = 4096;

constexpr const char *LINK_PART = "link";
constexpr const char *PARAMS_PART = "params";

constexpr const char *LINK_ID = "link_id";
constexpr const char *CONFIRMED = "confirmed";
constexpr const char *AT = "at";
constexpr const char *ID = "id";
constexpr const char *MAC = "mac";

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

// "ppa.3.link", "ppa.3.params".
std::string part_name(int ppa, const char *part)
{
    return "ppa." + std::to_string(ppa) + "." + part;
}

std::string part_path(int ppa, const char *part)
{
    return applied_dir() + "/" + part_name(ppa, part);
}

// The warning for err, when it is one: 0, or -1 after it.
int warned(int ppa, int err)
{
    if (err != 0)
        std::fprintf(stderr, gettext("Cannot record PPA %d: %s\n"), ppa, std::strerror(err));
    return err != 0 ? -1 : 0;
}

using lines = std::vector<std::pair<const char *, std::string>>;

std::string render(const lines &rows)
{
    std::string s(HEADER);
    for (const auto &[key, value] : rows)
        s.append("\n").append(key).append("=").append(value);
    return s + "\n";
}

// Puts one part in place; the directory is made when missing. An errno or 0.
int write_part(int ppa, const char *part, const lines &rows)
{
    return replace_run_state(applied_dir() + "/", part_name(ppa, part), render(rows));
}

// Writes text ahead into a pending file for one part; the directory is made
// when missing. An errno or 0.
int prepare_part(int ppa, const char *part, const std::string &text,
                 std::unique_ptr<pending_file> &tmp)
{
    tmp = std::make_unique<pending_file>();
    const int err = prepare_run_state(*tmp, applied_dir() + "/", part_name(ppa, part), text);
    if (err != 0)
        tmp.reset();
    return err;
}

// Puts one part in place: into what was prepared for it when there is
// something, otherwise written afresh. An errno or 0.
int put_part(int ppa, const char *part, const lines &rows, std::unique_ptr<pending_file> *ahead)
{
    if (ahead == nullptr || !*ahead)
        return write_part(ppa, part, rows);
    const std::string text = render(rows);
    const std::string_view view = text;
    const int err = place_file(**ahead, applied_dir() + "/", part_name(ppa, part), &view,
                               durability::volatile_state);
    ahead->reset();
    return err;
}

// Removes one part; a part that is not there is gone already. An errno or 0.
int remove_part(int ppa, const char *part)
{
    return unlink(part_path(ppa, part).c_str()) != 0 && errno != ENOENT && errno != ENOTDIR ? errno
                                                                                            : 0;
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

// A part's values, when it is exactly what llc2 writes.
std::optional<std::vector<std::string>> read_part(int ppa, const char *part,
                                                  const std::vector<std::string_view> &keys)
{
    return read_run_state(part_path(ppa, part), HEADER, keys, RECORD_MAX);
}

std::vector<std::string_view> params_keys()
{
    std::vector<std::string_view> keys{CONFIRMED};
    for (const std::size_t i : FILE_ORDER)
        keys.push_back(*INIT_PARAMS.at(i).keyword);
    keys.insert(keys.end(), {AT, ID, MAC});
    return keys;
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

prepared_record::prepared_record() = default;
prepared_record::~prepared_record() = default;
prepared_record::prepared_record(prepared_record &&) noexcept = default;
prepared_record &prepared_record::operator=(prepared_record &&) noexcept = default;

namespace
{

lines link_rows(const plumbed_link &link)
{
    return {{DEV_NAME, link.devicename},
            {DEV_INSTANCE, std::to_string(link.instance)},
            {LINK_ID, std::to_string(link.link_id)}};
}

// The parameter part's lines for sent; confirmed with now.
lines params_rows(const ctl_init &sent, const ppa_info *now)
{
    applied_params rec;
    rec.confirmed = now != nullptr;
    for (std::size_t i = 0; i < INIT_PARAMS.size(); ++i)
        rec.sent.at(i) = sent.*INIT_PARAMS.at(i).field;
    rec.at = std::time(nullptr);
    if (now != nullptr) {
        rec.id = now->id;
        std::memcpy(rec.mac.data(), now->mac, rec.mac.size());
    }
    lines rows{{CONFIRMED, rec.confirmed ? "yes" : "no"}};
    for (const std::size_t i : FILE_ORDER)
        rows.emplace_back(*INIT_PARAMS.at(i).keyword, std::to_string(rec.sent.at(i)));
    rows.emplace_back(AT, iso_utc(rec.at));
    rows.emplace_back(ID, std::to_string(rec.id));
    rows.emplace_back(MAC, mac_text(rec.mac));
    return rows;
}

} // namespace

int prepare_link_part(int ppa, const char *devicename, int instance, prepared_record &rec)
{
    // The identifier I_PLINK will return is not known yet: the widest.
    return prepare_part(ppa, LINK_PART,
                        render(link_rows({devicename, instance, std::numeric_limits<int>::max()})),
                        rec.link);
}

int prepare_params_part(int ppa, prepared_record &rec)
{
    // The values are those of the file when initialising reads it again:
    // each at its widest, like the driver's id.
    ctl_init widest{};
    for (const init_param &p : INIT_PARAMS)
        widest.*p.field = UINT16_MAX;
    ppa_info now{};
    now.id = UINT16_MAX;
    return prepare_part(ppa, PARAMS_PART, render(params_rows(widest, &now)), rec.params);
}

int unconfirm_params(int ppa, const ctl_init &planned)
{
    if (!read_params_part(ppa).has_value())
        return remove_part(ppa, PARAMS_PART);
    if (write_part(ppa, PARAMS_PART, params_rows(planned, nullptr)) == 0)
        return 0;
    // The old part would prove values the driver may no longer have.
    return remove_part(ppa, PARAMS_PART);
}

int drop_params(int ppa)
{
    return remove_part(ppa, PARAMS_PART);
}

int record_link(int ppa, const plumbed_link &link, prepared_record *ahead)
{
    if (ahead != nullptr && ahead->unrecorded) {
        (void)remove_part(ppa, LINK_PART);
        (void)remove_part(ppa, PARAMS_PART);
        return -1;
    }
    int err = put_part(ppa, LINK_PART, link_rows(link), ahead != nullptr ? &ahead->link : nullptr);
    if (err == 0)
        err = remove_part(ppa, PARAMS_PART);
    return warned(ppa, err);
}

int record_params(int ppa, const ctl_init &sent, const ppa_info *now, prepared_record *ahead)
{
    if (ahead != nullptr && ahead->unrecorded) {
        (void)remove_part(ppa, PARAMS_PART);
        return -1;
    }
    const int err = put_part(ppa, PARAMS_PART, params_rows(sent, now),
                             ahead != nullptr ? &ahead->params : nullptr);
    // The old part would prove values the driver no longer has: gone, where
    // the directory lets it go (a full one does, a read-only one does not).
    if (err != 0)
        (void)remove_part(ppa, PARAMS_PART);
    return warned(ppa, err);
}

int confirm_params(int ppa, int fd, const ctl_init &sent, prepared_record *ahead)
{
    if (ahead != nullptr && ahead->unrecorded)
        return record_params(ppa, sent, nullptr, ahead);
    ppa_info now{};
    now.ppa = static_cast<std::uint8_t>(ppa);
    if (ppa < 0 || ppa > LLC2_GETPPA_MAX) {
        // The driver cannot be asked how it sees the PPA, so nothing could
        // recognise the record later.
        (void)record_params(ppa, sent, nullptr, ahead);
        std::fprintf(stderr, gettext("Cannot record PPA %d: %s\n"), ppa, unaskable_reason());
        return -1;
    }
    if (llc2_request(fd, LLC2_IOC_GETPPA, now) < 0) {
        const int err = errno;
        (void)record_params(ppa, sent, nullptr, ahead);
        return warned(ppa, err);
    }
    return record_params(ppa, sent, &now, ahead);
}

int forget_params(int ppa)
{
    return warned(ppa, remove_part(ppa, PARAMS_PART));
}

int forget_record(int ppa)
{
    const int err = remove_part(ppa, LINK_PART);
    return warned(ppa, err != 0 ? err : remove_part(ppa, PARAMS_PART));
}

namespace
{

// The directory, or the nearest of its parents that is there, is one this
// process may write in; nothing is made or written. 0, or the errno.
int looks_writable(std::string dir)
{
    for (;;) {
        struct stat st {
        };
        if (stat(dir.c_str(), &st) == 0)
            return !S_ISDIR(st.st_mode)                    ? ENOTDIR
                   : access(dir.c_str(), W_OK | X_OK) != 0 ? errno
                                                           : 0;
        if (errno != ENOENT)
            return errno;
        const std::size_t slash = dir.find_last_of('/');
        if (slash == std::string::npos || slash == 0)
            return 0;
        dir.resize(slash);
    }
}

} // namespace

int records_writable(void)
{
    return looks_writable(applied_dir());
}

int record_replaceable(int ppa)
{
    for (const char *part : {LINK_PART, PARAMS_PART}) {
        struct stat st {
        };
        if (lstat(part_path(ppa, part).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return EISDIR;
    }
    return 0;
}

std::vector<numbered_name> numbered_names(std::string_view prefix, long long low, long long high)
{
    std::vector<numbered_name> out;
    DIR *dir = opendir(applied_dir().c_str());
    if (dir == nullptr)
        return out;
    while (const dirent *entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        if (!name.starts_with(prefix))
            continue;
        name.remove_prefix(prefix.size());
        const std::size_t dot = std::min(name.find('.'), name.size());
        if (const std::optional<long long> n = whole_number(name.substr(0, dot), low, high))
            out.push_back({entry->d_name, *n, std::string(name.substr(dot))});
    }
    closedir(dir);
    return out;
}

std::vector<int> recorded_ppas(void)
{
    std::vector<int> ppas;
    // Only the names llc2 writes: "ppa.", a number, and a part's name.
    for (const numbered_name &n : numbered_names("ppa.", INT_MIN, INT_MAX))
        if (n.rest == std::string(".") + LINK_PART || n.rest == std::string(".") + PARAMS_PART)
            ppas.push_back(static_cast<int>(n.number));
    std::sort(ppas.begin(), ppas.end());
    ppas.erase(std::unique(ppas.begin(), ppas.end()), ppas.end());
    return ppas;
}

std::optional<std::vector<std::string>> read_run_state(const std::string &path,
                                                       std::string_view header,
                                                       const std::vector<std::string_view> &keys,
                                                       std::size_t max)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {
    };
    std::string text;
    const bool read_whole = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                            // One byte more than the file may hold, so that
                            // an oversize one shows.
                            read_head(fd, max + 1, text) == 0;
    close(fd);
    std::string_view rest = text;
    // Oversize is damaged: nothing llc2 writes is that long.
    if (!read_whole || text.size() > max || text.find('\0') != std::string::npos ||
        !rest.starts_with(header) || rest.substr(header.size(), 1) != "\n")
        return std::nullopt;
    rest.remove_prefix(header.size() + 1);
    std::vector<std::string> values;
    for (const std::string_view key : keys) {
        const std::size_t eol = rest.find('\n');
        const std::string_view line = rest.substr(0, eol);
        if (eol == std::string_view::npos || !line.starts_with(key) ||
            line.substr(key.size(), 1) != "=")
            return std::nullopt;
        values.emplace_back(line.substr(key.size() + 1));
        rest.remove_prefix(eol + 1);
    }
    if (!rest.empty())
        return std::nullopt;
    return values;
}

std::optional<plumbed_link> read_link_part(int ppa)
{
    const auto v = read_part(ppa, LINK_PART, {DEV_NAME, DEV_INSTANCE, LINK_ID});
    if (!v || (*v)[0].size() >= LLC2_DEVNAME_SIZE)
        return std::nullopt;
    const std::optional<long long> instance = whole_number((*v)[1], INT_MIN, INT_MAX);
    const std::optional<long long> link_id = whole_number((*v)[2], 0, INT_MAX);
    if (!instance || !link_id)
        return std::nullopt;
    return plumbed_link{(*v)[0], static_cast<int>(*instance), static_cast<int>(*link_id)};
}

std::optional<applied_params> read_params_part(int ppa)
{
    const auto v = read_part(ppa, PARAMS_PART, params_keys());
    if (!v || ((*v)[0] != "yes" && (*v)[0] != "no"))
        return std::nullopt;
    applied_params out;
    out.confirmed = (*v)[0] == "yes";
    for (std::size_t k = 0; k < FILE_ORDER.size(); ++k) {
        const std::optional<long long> n = whole_number((*v)[1 + k], 0, UINT16_MAX);
        if (!n)
            return std::nullopt;
        out.sent.at(FILE_ORDER.at(k)) = static_cast<std::uint16_t>(*n);
    }
    const std::size_t rest = 1 + FILE_ORDER.size();
    const std::optional<long long> id = whole_number((*v)[rest + 1], 0, UINT16_MAX);
    if (!parse_at((*v)[rest], out.at) || !id || !parse_mac((*v)[rest + 2], out.mac))
        return std::nullopt;
    out.id = static_cast<std::uint16_t>(*id);
    return out;
}

bool params_proven(const applied_params &rec, const ppa_info &now)
{
    return rec.confirmed && rec.id == now.id &&
           std::memcmp(rec.mac.data(), now.mac, rec.mac.size()) == 0;
}

std::optional<int> ask_link(int fd, int ppa)
{
    ppa_link asked{};
    asked.ppa = ppa;
    asked.cmd = LLC2_LINK_CMD;
    if (llc2_request(fd, LLC2_IOC_GETLINK, asked) < 0)
        return std::nullopt;
    return asked.link_id;
}

std::vector<const char *> pending_keywords(const plumbed_link *link, const applied_params *params,
                                           const conf_values &conf)
{
    std::vector<const char *> out;
    if (link == nullptr || link->devicename != conf.devicename.data())
        out.push_back(DEV_NAME);
    if (link == nullptr || link->instance != conf.instance)
        out.push_back(DEV_INSTANCE);
    for (const std::size_t i : FILE_ORDER) {
        const init_param &p = INIT_PARAMS.at(i);
        if (params == nullptr ||
            init_param_value(p, conf.params.at(static_cast<std::size_t>(p.conf_index))) !=
                params->sent.at(i))
            out.push_back(*p.keyword);
    }
    return out;
}
