#include "sim_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

using clock_type = std::chrono::steady_clock;

std::string make_temp_dir()
{
    char tmpl[] = "/tmp/l2s.XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        return "";
    return tmpl;
}

// Reads a descriptor until end of file or the deadline.
void read_until(int fd, std::string &out, clock_type::time_point deadline,
                const std::function<bool(const std::string &)> &done)
{
    char buf[4096];
    while (!done(out)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now())
                .count();
        if (left <= 0)
            return;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            return;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            return;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

pid_t spawn(const std::vector<std::string> &args, int out_fd, int err_fd)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    dup2(out_fd, 1);
    if (err_fd >= 0)
        dup2(err_fd, 2);
    std::vector<char *> argv;
    std::string prog = LLC2SIM_PATH;
    argv.push_back(prog.data());
    std::vector<std::string> copy = args;
    std::transform(copy.begin(), copy.end(), std::back_inserter(argv),
                   [](std::string &a) { return a.data(); });
    argv.push_back(nullptr);
    execv(LLC2SIM_PATH, argv.data());
    _exit(127);
}

} // namespace

temp_dir::temp_dir() : path(make_temp_dir()) {}

temp_dir::~temp_dir()
{
    if (!path.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
}

sim_process::sim_process(const std::string &scenario) : root(make_temp_dir())
{
    if (root.empty()) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return;
    }
    log_path = root + "/log";
    std::vector<std::string> args = {"--root", root, "--log", log_path};
    if (!scenario.empty()) {
        const std::string path = root + "/scenario.json";
        std::ofstream(path) << scenario;
        args.push_back("--scenario");
        args.push_back(path);
    }
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    pid = spawn(args, out[1], -1);
    close(out[1]);
    std::string said;
    read_until(out[0], said, clock_type::now() + std::chrono::seconds(10),
               [](const std::string &s) { return s.find('\n') != std::string::npos; });
    close(out[0]);
    ready = said == "llc2sim: ready\n";
    if (!ready)
        ADD_FAILURE() << "llc2sim did not get ready; it said: " << said;
}

int sim_process::stop(int sig)
{
    if (pid <= 0)
        return -1;
    kill(pid, sig);
    int status = 0;
    // Do not hang a test on an llc2sim that ignores the signal.
    for (int i = 0; i < 500; ++i) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            pid = -1;
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    pid = -1;
    return -1;
}

sim_process::~sim_process()
{
    stop();
    if (!root.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
}

std::vector<nlohmann::json> sim_process::log() const
{
    std::vector<nlohmann::json> lines;
    std::ifstream in(log_path);
    std::string text;
    while (std::getline(in, text)) {
        if (text.empty())
            continue;
        lines.push_back(nlohmann::json::parse(text, nullptr, false));
    }
    return lines;
}

std::vector<nlohmann::json> sim_process::log_of(const std::string &kind) const
{
    std::vector<nlohmann::json> out;
    for (auto &l : log())
        if (l.is_object() && l.value("kind", "") == kind)
            out.push_back(l);
    return out;
}

bool sim_process::wait_log(const std::function<bool(const nlohmann::json &)> &pred,
                           int timeout_ms) const
{
    const auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    do {
        for (const auto &l : log())
            if (pred(l))
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (clock_type::now() < deadline);
    return false;
}

sim_run run_llc2sim(const std::vector<std::string> &args, int timeout_ms)
{
    sim_run r;
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return r;
    const pid_t pid = spawn(args, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    const auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    auto never = [](const std::string &) { return false; };
    read_until(out[0], r.out, deadline, never);
    read_until(err[0], r.err, deadline, never);
    close(out[0]);
    close(err[0]);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (clock_type::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return r;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

int raw_connect(const std::string &path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return -1;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int s = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    if (connect(s, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        close(s);
        return -1;
    }
    return s;
}
