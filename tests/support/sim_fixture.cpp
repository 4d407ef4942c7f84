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
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace llc2test
{

namespace
{

using Clock = std::chrono::steady_clock;

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

std::vector<char *> c_strings(const std::vector<std::string> &v)
{
    std::vector<char *> out;
    out.reserve(v.size() + 1);
    for (const std::string &s : v)
        out.push_back(const_cast<char *>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

// Sanitizer settings reach the programs under test too.
void pass_through(std::vector<std::string> &env)
{
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char *v = std::getenv(name))
            env.push_back(std::string(name) + "=" + v);
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

Run run_program(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                int timeout_s)
{
    Pipe out;
    Pipe err;
    std::vector<char *> args = c_strings(argv);
    std::vector<char *> envp = c_strings(env);

    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull < 0 || ::dup2(devnull, 0) < 0 || ::dup2(out.fd[1], 1) < 0 ||
            ::dup2(err.fd[1], 2) < 0)
            ::_exit(126);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    out.close_end(1);
    err.close_end(1);

    Run run;
    const auto deadline = Clock::now() + std::chrono::seconds(timeout_s);
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
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    run.status = decode_status(wstatus);
    return run;
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
    if (sim_running())
        throw std::runtime_error("llc2sim already running");
    write_file("llc2sim.json", scenario.dump(2));
    std::filesystem::remove(path("llc2sim.log"));
    std::vector<std::string> argv{
        llc2sim_binary(), "--root",           root_, "--scenario", path("llc2sim.json"),
        "--log",          path("llc2sim.log")};
    std::vector<std::string> env{"PATH=/usr/bin:/bin", "LC_ALL=C"};
    pass_through(env);
    std::vector<char *> args = c_strings(argv);
    std::vector<char *> envp = c_strings(env);
    const std::string out_path = path("llc2sim.out");
    const std::string err_path = path("llc2sim.err");

    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
            ::dup2(err, 2) < 0)
            ::_exit(126);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    sim_pid_ = pid;

    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        if (read_file(out_path).find("llc2sim: ready\n") != std::string::npos)
            return;
        int wstatus = 0;
        if (::waitpid(pid, &wstatus, WNOHANG) == pid) {
            sim_pid_ = -1;
            throw std::runtime_error("llc2sim ended with status " +
                                     std::to_string(decode_status(wstatus)) + ": " +
                                     read_file(err_path));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop_sim();
    throw std::runtime_error("llc2sim did not become ready: " + read_file(err_path));
}

int SimRoot::stop_sim()
{
    if (!sim_running())
        return -1;
    const pid_t pid = sim_pid_;
    sim_pid_ = -1;
    ::kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    int wstatus = 0;
    while (Clock::now() < deadline) {
        const pid_t got = ::waitpid(pid, &wstatus, WNOHANG);
        if (got == pid)
            return decode_status(wstatus);
        if (got < 0 && errno != EINTR)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    return decode_status(wstatus);
}

std::string SimRoot::sim_stderr() const
{
    return read_file(path("llc2sim.err"));
}

Run SimRoot::run_llc2(const std::vector<std::string> &args, const std::vector<std::string> &env,
                      int timeout_s) const
{
    std::vector<std::string> argv{llc2_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> full_env{"PATH=/usr/bin:/bin", "LLC2_ROOT=" + root_, "LC_ALL=C"};
    pass_through(full_env);
    // Later entries override earlier ones of the same name.
    for (const std::string &e : env) {
        const std::string name = e.substr(0, e.find('=') + 1);
        std::erase_if(full_env, [&](const std::string &have) { return have.starts_with(name); });
        full_env.push_back(e);
    }
    return run_program(argv, full_env, timeout_s);
}

std::vector<nlohmann::json> SimRoot::log() const
{
    std::vector<nlohmann::json> records;
    std::ifstream in(path("llc2sim.log"));
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            records.push_back(nlohmann::json::parse(line));
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

} // namespace llc2test
