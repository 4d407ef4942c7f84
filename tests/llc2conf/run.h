// SPDX-License-Identifier: Apache-2.0
// Runs of the built llc2conf on a throw-away root, and what its tests share.
#ifndef LLC2_TESTS_LLC2CONF_RUN_H
#define LLC2_TESTS_LLC2CONF_RUN_H

#include "sim_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace conftool
{

inline std::vector<std::string> env_of(const llc2test::SimRoot &r)
{
    return {"LLC2_ROOT=" + r.root(), "LC_ALL=C"};
}

// llc2conf with args, LLC2_ROOT the root, LC_ALL=C and then env's entries.
inline llc2test::Run run(const llc2test::SimRoot &r, std::vector<std::string> args,
                         const std::vector<std::string> &env = {})
{
    args.insert(args.begin(), LLC2CONF_BINARY);
    std::vector<std::string> all = env_of(r);
    all.insert(all.end(), env.begin(), env.end());
    return llc2test::run_program(args, all, 30);
}

// A run's exit status, standard output and standard error, to compare whole.
inline std::tuple<int, std::string, std::string> said(const llc2test::Run &run)
{
    return {run.status, run.out, run.err};
}

// The built program for "llc2" or "llc2conf", then the arguments.
inline std::vector<std::string> command(std::vector<std::string> words)
{
    words.front() = words.front() == "llc2" ? llc2test::llc2_binary() : LLC2CONF_BINARY;
    return words;
}

// Runs words through the shell, after shell text (redirections such as
// ">&-" or "2>&1", which joins the two streams in Run::out, or "ulimit ...;"
// before it), with the root's environment.
inline llc2test::Run shell(const llc2test::SimRoot &r, const std::string &redirect,
                           const std::vector<std::string> &words, const std::string &before = "")
{
    std::vector<std::string> argv{"/bin/sh", "-c", before + "exec \"$0\" \"$@\" " + redirect};
    for (const std::string &w : command(words))
        argv.push_back(w);
    return llc2test::run_program(argv, env_of(r), 60);
}

inline std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The temporary files of the writer left in the configuration directory.
inline std::vector<std::string> leftovers(const llc2test::SimRoot &r)
{
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(r.path("etc/llc2/default")))
        if (e.path().filename().string().starts_with(".llc2."))
            out.push_back(e.path().filename());
    return out;
}

// The writers' lock file, which stays in the configuration directory.
inline constexpr std::string_view lock_file = ".llc2conf.lock";

// The directory's entries but the lock file: the configuration.
inline std::vector<std::string> conf_entries(const llc2test::SimRoot &r)
{
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(r.path("etc/llc2/default")))
        if (e.path().filename() != lock_file)
            out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

// Takes the writers' lock in this process, as another llc2conf would hold
// it, until the returned descriptor is closed; -1 when it cannot.
inline int hold_lock(const llc2test::SimRoot &r)
{
    const std::string path = r.path("etc/llc2/default/") + std::string(lock_file);
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    struct flock fl {
    };
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (fd >= 0 && fcntl(fd, F_SETLK, &fl) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Whether strace can trace the programs here and inject faults into them.
// Not under an emulator (the cross-built suite): there strace would see the
// emulator's system calls, not the program's.
inline bool strace_works()
{
    if (llc2test::time_factor() > 1)
        return false;
    const llc2test::Run run =
        llc2test::run_program({"/usr/bin/strace", "-qq", "-o", "/dev/null", "/bin/true"}, {}, 60);
    return run.status == 0;
}

// words run under strace with each of the given -e options (fault injection
// by system call), through the shell after the text before when there is
// one; the tracee's status is strace's.
inline llc2test::Run under_strace(const llc2test::SimRoot &r,
                                  const std::vector<std::string> &inject,
                                  const std::vector<std::string> &words,
                                  const std::string &before = "")
{
    std::vector<std::string> argv{"/usr/bin/strace", "-f", "-qq", "-o", "/dev/null"};
    for (const std::string &e : inject) {
        argv.emplace_back("-e");
        argv.push_back(e);
    }
    if (!before.empty())
        argv.insert(argv.end(), {"/bin/sh", "-c", before + "exec \"$0\" \"$@\""});
    for (const std::string &w : command(words))
        argv.push_back(w);
    std::vector<std::string> env = env_of(r);
    // LeakSanitizer cannot work under ptrace.
    env.emplace_back("ASAN_OPTIONS=detect_leaks=0");
    return llc2test::run_program(argv, env, 60);
}

// words under strace, held for a second (times time_factor()) in their
// first fsync, a writer's of its temporary file: the run to come once that
// file holds what was written, its path in temp (empty if the run ended).
struct Held {
    std::future<llc2test::Run> run;
    std::string temp;
};

inline Held hold_in_fsync(const llc2test::SimRoot &r, const std::vector<std::string> &words,
                          const std::string &before = "")
{
    const std::vector<std::string> inject{"trace=fsync",
                                          "inject=fsync:when=1:delay_enter=" +
                                              std::to_string(1000000 * llc2test::time_factor())};
    Held held{std::async(std::launch::async, under_strace, std::cref(r), inject, words, before),
              {}};
    while (held.run.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        for (const std::string &name : leftovers(r)) {
            std::error_code ec;
            held.temp = r.path("etc/llc2/default/") + name;
            if (std::filesystem::file_size(held.temp, ec) > 0 && !ec)
                return held;
        }
    }
    held.temp.clear();
    return held;
}

inline std::string usage()
{
    const std::string name = LLC2CONF_BINARY;
    const std::string more = "\n       " + name;
    return "Usage: " + name + " [-D <dir>] create [-f] [-n] <ppa> <linkname> [keyword=value ...]" +
           more + " [-D <dir>] set [-n] <ppa> keyword=value ..." + more +
           " [-D <dir>] delete [-n] <ppa>" + more + " [-D <dir>] check [<ppa> ...]" + more +
           " [-D <dir>] show <ppa>" + more + " [-D <dir>] list [--json]\n";
}

// text with the line "from" (a whole line, newline excluded) replaced by "to".
inline std::string with_line(std::string text, std::string_view from, std::string_view to)
{
    const std::string line = "\n" + std::string(from) + "\n";
    const std::size_t at = text.find(line);
    if (at != std::string::npos)
        text.replace(at + 1, from.size(), to);
    return text;
}

} // namespace conftool

#endif
