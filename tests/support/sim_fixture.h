// SPDX-License-Identifier: Apache-2.0
// Test helper: a throw-away root with llc2sim running on it, runs of the built
// llc2 and llc2sim programs, and llc2sim's request log. Everything is cleaned
// up by the destructor, whether the test passed, failed or threw. This is the
// one place tests start and stop llc2sim.
#ifndef LLC2_TEST_SIM_FIXTURE_H
#define LLC2_TEST_SIM_FIXTURE_H

#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace llc2test
{

// What a run of a program left behind.
struct Run {
    int status = -1; // exit status, or 128 + signal number
    std::string out; // standard output
    std::string err; // standard error
};

// One emulated interface "xnic" with two MAC addresses; no PPAs, no faults.
nlohmann::json default_scenario();

// A complete, valid configuration file for the given device and instance.
std::string conf_text(std::string_view device, int instance, int llc2_on = 1);

// "0a0b" -> {10, 11}. Throws std::invalid_argument on odd length or bad digits.
std::vector<unsigned char> unhex(std::string_view hex);

// llc2sim's log spells a payload or a control part as its bytes in the order
// they travelled, two lower-case hex digits a byte. The records travel in
// the host's byte order, so a word's digits differ between hosts: expected
// log text is built here from host-order words, never written out as the
// digits one host happens to produce.
std::string hex(const std::vector<unsigned char> &bytes);

// The bytes of 32-bit words in the host's order, as the driver receives them.
std::vector<unsigned char> words(std::initializer_list<std::uint32_t> ws);

// How many times slower than a native build this run may be:
// LLC2_TEST_TIME_FACTOR (the cross presets set it: there every program runs
// under qemu), 1 when unset or not a whole number above 1. It scales the waits that only
// keep a broken run from hanging, and the windows a test needs to stay open.
int time_factor();

// Runs a program with exactly the given environment, feeding it nothing on
// standard input, and kills it after timeout_s seconds (times time_factor()).
Run run_program(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                int timeout_s);

// Paths of the built programs.
std::string llc2_binary();
std::string llc2sim_binary();

// Runs llc2sim itself with these arguments to its end, for its command line.
Run run_llc2sim(const std::vector<std::string> &args, int timeout_s = 10);

// Locks the file at path (made when missing, with its directories) as another
// llc2 or llc2conf run would hold its lock: POSIX locks are the process's, so
// every program the test starts finds it taken until the descriptor returned
// is closed. -1 when it cannot.
int hold_lock(const std::string &path);

// A SOCK_SEQPACKET connection to a socket path past the platform layer, for
// sending llc2sim what no client would: the descriptor, or -1.
int raw_connect(const std::string &path);

class SimRoot
{
  public:
    // Makes a fresh root /tmp/llc2t.XXXXXX with etc/llc2/default and dev.
    SimRoot();
    ~SimRoot();
    SimRoot(const SimRoot &) = delete;
    SimRoot &operator=(const SimRoot &) = delete;

    const std::string &root() const { return root_; }
    // root + "/" + rel
    std::string path(std::string_view rel) const;
    // root + "/dev/" + name: a device node llc2sim serves.
    std::string dev(std::string_view name) const;
    void write_file(std::string_view rel, std::string_view text, mode_t mode = 0644) const;
    // etc/llc2/default/llc2.<ppa>
    void write_conf(int ppa, std::string_view text) const;

    // Starts llc2sim with the scenario and waits for its ready line; throws
    // std::runtime_error, with what llc2sim said, when it does not come up
    // within ten seconds (times time_factor()).
    void start_sim(const nlohmann::json &scenario = default_scenario());
    // The same with the scenario file's text as it is, which need not be JSON.
    void start_sim_text(std::string_view scenario);
    // Sends sig, then SIGKILL if it has not gone within five seconds (times
    // time_factor()). Returns llc2sim's exit status (or 128 + signal), -1
    // when it was not running.
    int stop_sim(int sig = SIGTERM);
    bool sim_running() const { return sim_pid_ > 0; }
    // What llc2sim wrote to standard error so far.
    std::string sim_stderr() const;

    // Runs the built llc2 with LLC2_ROOT set to the root and LC_ALL=C, then
    // the given NAME=VALUE entries (which may override both).
    Run run_llc2(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
                 int timeout_s = 60) const;

    // The request log, one record a line; empty when llc2sim wrote none. A
    // last line llc2sim is still writing is left for the next read.
    std::vector<nlohmann::json> log() const;
    // Only the records of one kind ("ioctl", "link", ...).
    std::vector<nlohmann::json> log(std::string_view kind) const;
    // Reads the log until pred holds for it (true) or timeout_ms (times
    // time_factor()) passes (false).
    bool wait_log(const std::function<bool(const std::vector<nlohmann::json> &)> &pred,
                  int timeout_ms = 5000) const;
    // What the driver holds now: the "state" line llc2sim writes on
    // SIGUSR1, asked of the process at the other end of a connection to the
    // control device; null when none came.
    nlohmann::json state() const;

  private:
    std::string root_;
    pid_t sim_pid_ = -1;
};

} // namespace llc2test

#endif
