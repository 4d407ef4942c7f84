// Starts llc2sim for a test on a fresh short root under /tmp, waits for its
// ready line, and on destruction stops it and removes the root, whatever the
// test did. Also: reading its request log, and raw connections to it.
#ifndef LLC2_TESTS_SIM_PROCESS_H
#define LLC2_TESTS_SIM_PROCESS_H

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

struct sim_process {
    // scenario: JSON text, or "" for llc2sim's default scenario.
    explicit sim_process(const std::string &scenario = "");
    ~sim_process();
    sim_process(const sim_process &) = delete;
    sim_process &operator=(const sim_process &) = delete;

    // SIGTERM and wait: the exit status (as waitpid gives it), -1 if gone.
    int stop(int sig = 15);

    std::string dev(const std::string &name) const { return root + "/dev/" + name; }
    // Every line of the request log so far.
    std::vector<nlohmann::json> log() const;
    // Lines of one kind.
    std::vector<nlohmann::json> log_of(const std::string &kind) const;
    // Waits up to timeout_ms for a line that satisfies pred.
    bool wait_log(const std::function<bool(const nlohmann::json &)> &pred,
                  int timeout_ms = 5000) const;

    std::string root;
    std::string log_path;
    pid_t pid = -1;
    bool ready = false;
};

// Runs llc2sim with these arguments to its end (or kills it after
// timeout_ms): exit status, standard output and standard error.
struct sim_run {
    int status = -1; // WEXITSTATUS, or -1 when it did not exit
    std::string out;
    std::string err;
};
sim_run run_llc2sim(const std::vector<std::string> &args, int timeout_ms = 10000);

// A temporary directory under /tmp, removed with everything in it.
struct temp_dir {
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;
    std::string path;
};

// A raw SOCK_SEQPACKET connection to a socket path: -1 on failure.
int raw_connect(const std::string &path);

#endif
