// SPDX-License-Identifier: Apache-2.0
#include "sim_fixture.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace llc2test
{

namespace
{

using Clock = std::chrono::steady_clock;

// A descriptor that closes itself.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f)
    {
        if (fd < 0)
            throw std::runtime_error(std::string("open: ") + std::strerror(errno));
    }
    ~Fd() { ::close(fd); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
};

Fd open_fd(const std::string &path, int flags)
{
    return Fd(::open(path.c_str(), flags | O_CLOEXEC, 0644));
}

// A pipe whose ends close themselves.
struct Pipe {
    std::array<int, 2> fd{-1, -1};
    Pipe()
    {
        if (::pipe2(fd.data(), O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    ~Pipe()
    {
        for (int f : fd)
            if (f >= 0)
                ::close(f);
    }
    void close_end(int i)
    {
        if (fd[i] >= 0)
            ::close(fd[i]);
        fd[i] = -1;
    }
};

int decode_status(int wstatus)
{
    if (WIFEXITED(wstatus))
        return WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus))
        return 128 + WTERMSIG(wstatus);
    return -1;
}

// The status of a child that has ended, nothing while it runs on.
std::optional<int> reaped(pid_t pid)
{
    int wstatus = 0;
    pid_t got = 0;
    do
        got = ::waitpid(pid, &wstatus, WNOHANG);
    while (got < 0 && errno == EINTR);
    if (got == 0)
        return std::nullopt;
    return got == pid ? decode_status(wstatus) : -1;
}

int wait_for(pid_t pid)
{
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0)
        if (errno != EINTR)
            return -1;
    return decode_status(wstatus);
}

std::vector<char *> c_strings(const std::vector<std::string> &v)
{
    std::vector<char *> out;
    out.reserve(v.size() + 1);
    for (const std::string &s : v)
        out.push_back(const_cast<char *>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

// Starts argv[0] with exactly env and its standard streams on in, out and err;
// the caller keeps (and closes) those.
pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, int in,
            int out, int err)
{
    std::vector<char *> args = c_strings(argv);
    std::vector<char *> envp = c_strings(env);
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(126);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

// What the built programs run with; sanitizer settings reach them too.
std::vector<std::string> program_env()
{
    std::vector<std::string> env{"PATH=/usr/bin:/bin", "LC_ALL=C"};
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char *v = std::getenv(name))
            env.push_back(std::string(name) + "=" + v);
    return env;
}

std::vector<std::string> with_args(std::string program, const std::vector<std::string> &args)
{
    std::vector<std::string> argv{std::move(program)};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

std::string llc2_binary()
{
    return LLC2_BINARY;
}
std::string llc2sim_binary()
{
    return LLC2SIM_BINARY;
}

nlohmann::json default_scenario()
{
    return nlohmann::json::parse(R"({
      "interfaces": [
        {"name": "xnic", "mac_type": 4, "max_sdu": 1500, "min_sdu": 1, "service_mode": 1,
         "macs": ["02:00:00:a1:b2:c3", "02:00:00:a1:b2:c4"]}
      ]
    })");
}

std::string conf_text(std::string_view device, int instance, int llc2_on)
{
    std::ostringstream s;
    s << "# written by the test helper\n"
      << "devicename=" << device << "\n"
      << "deviceinstance=" << instance << "\n"
      << "llc2_on=" << llc2_on << "\n"
      << "deviceloopback=0\n"
      << "timeinterval=0\n"
      << "acktimer=2\n"
      << "rsptimer=2\n"
      << "polltimer=4\n"
      << "rejecttimer=6\n"
      << "rembusytimer=8\n"
      << "inacttimer=30\n"
      << "maxretry=6\n"
      << "xmitwindowsz=14\n"
      << "rcvwindowsz=14\n";
    return s.str();
}

std::vector<unsigned char> unhex(std::string_view hex)
{
    if (hex.size() % 2 != 0)
        throw std::invalid_argument("odd hex length");
    auto nibble = [](char c) -> unsigned {
        if (c >= '0' && c <= '9')
            return static_cast<unsigned>(c - '0');
        if (c >= 'a' && c <= 'f')
            return static_cast<unsigned>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F')
            return static_cast<unsigned>(c - 'A' + 10);
        throw std::invalid_argument("bad hex digit");
    };
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    return out;
}

std::string hex(const std::vector<unsigned char> &bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xf];
    }
    return out;
}

std::vector<unsigned char> words(std::initializer_list<std::uint32_t> ws)
{
    std::vector<unsigned char> out;
    for (const std::uint32_t w : ws) {
        unsigned char b[sizeof w];
        std::memcpy(b, &w, sizeof w);
        out.insert(out.end(), b, b + sizeof w);
    }
    return out;
}

int time_factor()
{
    const char *v = std::getenv("LLC2_TEST_TIME_FACTOR");
    if (v == nullptr)
        return 1;
    char *end = nullptr;
    const long f = std::strtol(v, &end, 10);
    return end != v && *end == '\0' && f > 1 && f <= 100 ? static_cast<int>(f) : 1;
}

Run run_program(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                int timeout_s)
{
    Pipe out;
    Pipe err;
    const pid_t pid = spawn(argv, env, open_fd("/dev/null", O_RDONLY).fd, out.fd[1], err.fd[1]);
    out.close_end(1);
    err.close_end(1);

    Run run;
    const auto deadline = Clock::now() + std::chrono::seconds(timeout_s) * time_factor();
    bool killed = false;
    std::array<pollfd, 2> fds{{{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}}};
    std::array<std::string *, 2> sinks{&run.out, &run.err};
    int open_ends = 2;
    while (open_ends > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 && !killed) {
            ::kill(pid, SIGKILL);
            killed = true;
        }
        const int n = ::poll(fds.data(), fds.size(), killed ? 1000 : static_cast<int>(left));
        if (n < 0 && errno != EINTR)
            break;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            std::array<char, 4096> buf{};
            const ssize_t got = ::read(fds[i].fd, buf.data(), buf.size());
            if (got > 0) {
                sinks[i]->append(buf.data(), static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open_ends;
            }
        }
    }
    run.status = wait_for(pid);
    return run;
}

Run run_llc2sim(const std::vector<std::string> &args, int timeout_s)
{
    return run_program(with_args(llc2sim_binary(), args), program_env(), timeout_s);
}

int hold_lock(const std::string &path)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    struct flock fl {
    };
    fl.l_type = F_WRLCK;
    if (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int raw_connect(const std::string &path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return -1;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int s = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    if (::connect(s, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

SimRoot::SimRoot()
{
    std::string tmpl = "/tmp/llc2t.XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    root_ = tmpl;
    std::filesystem::create_directories(path("etc/llc2/default"));
    std::filesystem::create_directories(path("dev"));
}

SimRoot::~SimRoot()
{
    stop_sim();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

std::string SimRoot::path(std::string_view rel) const
{
    std::string p = root_;
    p += '/';
    p += rel;
    return p;
}

std::string SimRoot::dev(std::string_view name) const
{
    return path("dev/" + std::string(name));
}

void SimRoot::write_file(std::string_view rel, std::string_view text, mode_t mode) const
{
    const std::string p = path(rel);
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    {
        std::ofstream f(p, std::ios::binary | std::ios::trunc);
        f.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!f)
            throw std::runtime_error("cannot write " + p);
    }
    if (::chmod(p.c_str(), mode) != 0)
        throw std::runtime_error("cannot chmod " + p);
}

void SimRoot::write_conf(int ppa, std::string_view text) const
{
    write_file("etc/llc2/default/llc2." + std::to_string(ppa), text);
}

void SimRoot::start_sim(const nlohmann::json &scenario)
{
    start_sim_text(scenario.dump(2));
}

void SimRoot::start_sim_text(std::string_view scenario)
{
    if (sim_running())
        throw std::runtime_error("llc2sim already running");
    write_file("llc2sim.json", scenario);
    std::filesystem::remove(path("llc2sim.log"));
    const std::string out_path = path("llc2sim.out");
    const std::string err_path = path("llc2sim.err");
    {
        const Fd in = open_fd("/dev/null", O_RDONLY);
        const Fd out = open_fd(out_path, O_WRONLY | O_CREAT | O_TRUNC);
        const Fd err = open_fd(err_path, O_WRONLY | O_CREAT | O_TRUNC);
        sim_pid_ = spawn({llc2sim_binary(), "--root", root_, "--scenario", path("llc2sim.json"),
                          "--log", path("llc2sim.log")},
                         program_env(), in.fd, out.fd, err.fd);
    }

    const auto deadline = Clock::now() + std::chrono::seconds(10) * time_factor();
    while (Clock::now() < deadline) {
        if (read_file(out_path).find("llc2sim: ready\n") != std::string::npos)
            return;
        if (const std::optional<int> status = reaped(sim_pid_)) {
            sim_pid_ = -1;
            throw std::runtime_error("llc2sim ended with status " + std::to_string(*status) + ": " +
                                     read_file(err_path));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop_sim();
    throw std::runtime_error("llc2sim did not become ready: " + read_file(err_path));
}

int SimRoot::stop_sim(int sig)
{
    if (!sim_running())
        return -1;
    const pid_t pid = std::exchange(sim_pid_, -1);
    ::kill(pid, sig);
    // Do not hang a test on an llc2sim that ignores the signal.
    const auto deadline = Clock::now() + std::chrono::seconds(5) * time_factor();
    while (Clock::now() < deadline) {
        if (const std::optional<int> status = reaped(pid))
            return *status;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    return wait_for(pid);
}

std::string SimRoot::sim_stderr() const
{
    return read_file(path("llc2sim.err"));
}

Run SimRoot::run_llc2(const std::vector<std::string> &args, const std::vector<std::string> &env,
                      int timeout_s) const
{
    std::vector<std::string> full_env = program_env();
    full_env.push_back("LLC2_ROOT=" + root_);
    // Later entries override earlier ones of the same name.
    for (const std::string &e : env) {
        const std::string name = e.substr(0, e.find('=') + 1);
        std::erase_if(full_env, [&](const std::string &have) { return have.starts_with(name); });
        full_env.push_back(e);
    }
    return run_program(with_args(llc2_binary(), args), full_env, timeout_s);
}

std::vector<nlohmann::json> SimRoot::log() const
{
    const std::string text = read_file(path("llc2sim.log"));
    std::vector<nlohmann::json> records;
    // Whole lines only: llc2sim may be halfway through writing the last one.
    std::size_t end = 0;
    for (std::size_t start = 0; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        if (end > start)
            records.push_back(
                nlohmann::json::parse(std::string_view(text).substr(start, end - start)));
    return records;
}

std::vector<nlohmann::json> SimRoot::log(std::string_view kind) const
{
    std::vector<nlohmann::json> out;
    for (nlohmann::json &r : log())
        if (r.value("kind", "") == kind)
            out.push_back(std::move(r));
    return out;
}

bool SimRoot::wait_log(const std::function<bool(const std::vector<nlohmann::json> &)> &pred,
                       int timeout_ms) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms) * time_factor();
    while (!pred(log())) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

nlohmann::json SimRoot::state() const
{
    const int s = raw_connect(dev("llc2"));
    ucred cred{};
    socklen_t len = sizeof cred;
    const bool known = s >= 0 && getsockopt(s, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0;
    if (s >= 0)
        close(s);
    if (!known || cred.pid <= 0)
        return nlohmann::json();
    const std::size_t before = log("state").size();
    if (kill(cred.pid, SIGUSR1) != 0 ||
        !wait_log([&](const auto &) { return log("state").size() > before; }))
        return nlohmann::json();
    return log("state").back();
}

} // namespace llc2test
