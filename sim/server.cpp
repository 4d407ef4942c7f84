// SPDX-License-Identifier: Apache-2.0
#include "server.h"

#include "core.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace
{

// Set by SIGTERM and SIGINT, and by SIGUSR1; the loop only looks at them
// with the signals blocked, and ppoll unblocks them while it waits, so the
// state is never written halfway through a request.
volatile std::sig_atomic_t stop_requested = 0;
volatile std::sig_atomic_t state_requested = 0;

extern "C" void on_stop(int)
{
    stop_requested = 1;
}

extern "C" void on_state(int)
{
    state_requested = 1;
}

struct listener {
    int fd = -1;
    std::string path;
    std::string device;
    bool control = false;
};

struct conn {
    int fd = -1;
};

struct server {
    sim_state st;
    std::vector<listener> listeners;
    std::map<int, conn> conns; // by stream id
    double listen_paused_until = 0;
};

void error(const std::string &what)
{
    std::fprintf(stderr, "llc2sim: %s\n", what.c_str());
}

std::string sys_error(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

// A socket file left by a run that died is replaced; a live llc2sim or a
// file that is not a socket is left alone.
bool clear_path(const std::string &path, const sockaddr_un &addr)
{
    struct stat st {
    };
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return true;
        error(sys_error(path));
        return false;
    }
    if (!S_ISSOCK(st.st_mode)) {
        error(path + ": exists and is not a socket");
        return false;
    }
    const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        error(sys_error("socket"));
        return false;
    }
    const bool live = connect(probe, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
    close(probe);
    if (live) {
        error(path + ": another llc2sim is serving it");
        return false;
    }
    if (unlink(path.c_str()) != 0) {
        error(sys_error(path));
        return false;
    }
    return true;
}

int open_listener(listener &l)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, l.path.c_str(), l.path.size() + 1);
    if (!clear_path(l.path, addr))
        return 2;
    l.fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (l.fd < 0) {
        error(sys_error("socket"));
        return 1;
    }
    if (bind(l.fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(l.fd, 64) != 0) {
        error(sys_error(l.path));
        close(l.fd);
        l.fd = -1;
        return 1;
    }
    return 0;
}

void close_all(server &sv)
{
    for (auto &[id, c] : sv.conns) {
        close(c.fd);
        stream_closed(sv.st, id);
    }
    sv.conns.clear();
    for (listener &l : sv.listeners) {
        if (l.fd >= 0) {
            close(l.fd);
            unlink(l.path.c_str());
        }
        l.fd = -1;
    }
}

void drop_conn(server &sv, int id)
{
    auto it = sv.conns.find(id);
    if (it == sv.conns.end())
        return;
    close(it->second.fd);
    sv.conns.erase(it);
    stream_closed(sv.st, id);
}

void bad_and_drop(server &sv, int id, const std::string &reason)
{
    auto s = sv.st.streams.find(id);
    log_bad(sv.st, id, s != sv.st.streams.end() ? s->second.device : "", reason);
    sv.st.drop.push_back(id);
}

// Sends what the core has to say and closes what it gave up on.
void settle(server &sv)
{
    std::vector<outgoing> out;
    out.swap(sv.st.outbox);
    for (outgoing &o : out) {
        auto c = sv.conns.find(o.stream);
        if (c == sv.conns.end())
            continue;
        if (send(c->second.fd, o.frame.data(), o.frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT) >= 0)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            bad_and_drop(sv, o.stream, "client does not read its replies");
        else
            bad_and_drop(sv, o.stream,
                         "client went away before its reply: " + std::string(std::strerror(errno)));
    }
    std::vector<int> drop;
    drop.swap(sv.st.drop);
    for (const int id : drop)
        drop_conn(sv, id);
}

void accept_all(server &sv, const listener &l)
{
    for (;;) {
        const int fd = accept4(l.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: stop listening a moment instead of spinning.
                log_bad(sv.st, 0, l.device, sys_error("accept"));
                sv.listen_paused_until = now_s() + 0.1;
            }
            return;
        }
        ucred cred{};
        socklen_t len = sizeof cred;
        const int pid = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 ? cred.pid : 0;
        const int id = stream_accepted(sv.st, l.device, l.control, pid);
        sv.conns[id] = conn{fd};
    }
}

void read_conn(server &sv, int id, std::vector<std::uint8_t> &buf)
{
    // A bounded number per round, so one chatty client cannot starve others.
    for (int i = 0; i < 32; ++i) {
        auto c = sv.conns.find(id);
        if (c == sv.conns.end() ||
            std::find(sv.st.drop.begin(), sv.st.drop.end(), id) != sv.st.drop.end())
            return;
        iovec iov{buf.data(), buf.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        const ssize_t n = recvmsg(c->second.fd, &msg, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return;
            bad_and_drop(sv, id, sys_error("receive"));
            return;
        }
        if (n == 0) {
            sv.st.drop.push_back(id);
            return;
        }
        if ((msg.msg_flags & MSG_TRUNC) != 0) {
            bad_and_drop(sv, id, "oversize message");
            return;
        }
        handle_message(sv.st, id,
                       std::span<const std::uint8_t>(buf.data(), static_cast<std::size_t>(n)));
        settle(sv);
    }
}

int serve(server &sv)
{
    std::vector<std::uint8_t> buf(EMU_MAX_MESSAGE + 1);
    sigset_t during_wait;
    sigprocmask(SIG_SETMASK, nullptr, &during_wait);
    sigdelset(&during_wait, SIGTERM);
    sigdelset(&during_wait, SIGINT);
    sigdelset(&during_wait, SIGUSR1);

    std::vector<pollfd> fds;
    std::vector<int> ids;
    while (stop_requested == 0) {
        if (state_requested != 0) {
            state_requested = 0;
            log_state(sv.st, "SIGUSR1");
        }
        const double now = now_s();
        double next = run_timers(sv.st, now);
        settle(sv);
        const bool listening = now >= sv.listen_paused_until;
        if (!listening && (next < 0 || sv.listen_paused_until - now < next))
            next = sv.listen_paused_until - now;

        fds.clear();
        ids.clear();
        if (listening)
            std::transform(sv.listeners.begin(), sv.listeners.end(), std::back_inserter(fds),
                           [](const listener &l) {
                               return pollfd{l.fd, POLLIN, 0};
                           });
        const std::size_t first_conn = fds.size();
        for (const auto &[id, c] : sv.conns) {
            fds.push_back({c.fd, POLLIN, 0});
            ids.push_back(id);
        }
        timespec ts{};
        if (next >= 0) {
            ts.tv_sec = static_cast<time_t>(next);
            ts.tv_nsec = static_cast<long>((next - static_cast<double>(ts.tv_sec)) * 1e9) + 1000000;
            if (ts.tv_nsec >= 1000000000) {
                ts.tv_sec += 1;
                ts.tv_nsec -= 1000000000;
            }
        }
        const int n = ppoll(fds.data(), fds.size(), next >= 0 ? &ts : nullptr, &during_wait);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error(sys_error("poll"));
            return 1;
        }
        if (listening)
            for (std::size_t i = 0; i < first_conn; ++i)
                if (fds[i].revents != 0)
                    accept_all(sv, sv.listeners[i]);
        for (std::size_t i = first_conn; i < fds.size(); ++i)
            if (fds[i].revents != 0)
                read_conn(sv, ids[i - first_conn], buf);
        settle(sv);
    }
    return 0;
}

} // namespace

int run_server(const server_conf &conf)
{
    server sv;
    const std::string dev = conf.root + "/dev";
    sv.listeners.push_back({-1, dev + "/llc2", "llc2", true});
    for (const iface_conf &ic : conf.sc.interfaces)
        sv.listeners.push_back({-1, dev + "/" + ic.name, ic.name, false});
    const auto too_long =
        std::find_if(sv.listeners.begin(), sv.listeners.end(), [](const listener &l) {
            return l.path.size() >= sizeof(sockaddr_un::sun_path);
        });
    if (too_long != sv.listeners.end()) {
        error("socket path too long (" + std::to_string(too_long->path.size()) +
              " bytes, at most " + std::to_string(sizeof(sockaddr_un::sun_path) - 1) +
              "): " + too_long->path);
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(dev, ec);
    if (ec) {
        error(dev + ": " + ec.message());
        return 2;
    }
    std::FILE *log = nullptr;
    if (!conf.log_path.empty()) {
        log = std::fopen(conf.log_path.c_str(), "w");
        if (log == nullptr) {
            error(sys_error(conf.log_path));
            return 2;
        }
    }
    sv.st.log = log;
    load_scenario(sv.st, conf.sc);

    // The signals only arrive while ppoll waits, so no flag is ever missed.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGUSR1);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    struct sigaction sa {
    };
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sa.sa_handler = on_state;
    sigaction(SIGUSR1, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    int status = 0;
    for (listener &l : sv.listeners) {
        status = open_listener(l);
        if (status != 0)
            break;
    }
    if (status == 0) {
        std::fputs("llc2sim: ready\n", stdout);
        std::fflush(stdout);
        status = serve(sv);
    }
    close_all(sv);
    // The log's last line: what the driver held when llc2sim ended.
    if (status == 0)
        log_state(sv.st, "exit");
    if (log != nullptr)
        std::fclose(log);
    return status;
}
