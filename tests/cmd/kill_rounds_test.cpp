// SPDX-License-Identifier: Apache-2.0
// Runs killed at random across every action that changes the driver, with
// llc2sim answering late so that kills land between a request and its
// answer, and a file changed (or put back) after each: --status never says
// a PPA is plainly up while the driver holds other values or another link,
// a link no PPA holds is never unseen, and one --apply converges (after -U
// where a link's identifier was never learnt).
#include "cmd_test_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <random>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;

constexpr int PPAS = 4;
constexpr int ROUNDS = 36;

// The ten values of the last INIT the driver took for ppa, as its trace
// line gives them; "" when none.
std::string last_init(const std::vector<std::string> &trace, int ppa)
{
    const std::string head = "INIT " + std::to_string(ppa) + " ";
    for (auto line = trace.rbegin(); line != trace.rend(); ++line)
        if (const std::size_t at = line->find(head); at == 2)
            return line->substr(at + head.size(), line->rfind(' ') - at - head.size());
    return "";
}

// The same ten values initialising would send for the file text, read from
// the record's bytes at the offsets the trace reads them from.
std::string file_init(std::string text, int ppa)
{
    conf_values v;
    EXPECT_EQ(read_conf_and_close(fmemopen(text.data(), text.size(), "r"), v), 0);
    const ctl_init init = make_ctl_init(ppa, v.params.data());
    std::array<unsigned char, sizeof(ctl_init)> bytes{};
    std::memcpy(bytes.data(), &init, sizeof init);
    std::string out;
    for (std::size_t off = 8; off < 28; off += 2) {
        std::uint16_t w = 0;
        std::memcpy(&w, &bytes.at(off), 2);
        out += (out.empty() ? "" : " ") + std::to_string(w);
    }
    return out;
}

TEST(KilledAtRandom, NeverPlainlyUpForOtherValuesAndOneApplyConverges)
{
    SimRoot r;
    std::array<std::string, PPAS> files;
    for (int p = 0; p < PPAS; ++p) {
        files.at(p) = conf_text("xnic", p);
        r.write_conf(p, files.at(p));
    }
    json s = llc2test::default_scenario();
    s["faults"] = json::array();
    for (const char *late : {"init", "uninit", "plink", "setppa", "enable", "punlink"})
        s["faults"].push_back({{"request", late}, {"delay_ms", 60}});
    r.start_sim(s);
    ASSERT_EQ(r.run_llc2({"--apply"}).status, 0);

    std::random_device seed_source;
    const unsigned seed = seed_source();
    std::mt19937 rng(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::vector<std::string> actions{"-i", "-p", "-r", "-u", "--apply", "-P", "-U"};
    for (int round = 0; round < ROUNDS; ++round) {
        const int p = static_cast<int>(rng() % PPAS);
        const std::string action = actions.at(rng() % actions.size());
        const std::string before = files.at(p);
        files.at(p) =
            round % 4 == 3
                ? cmdtest::with_line(before, "deviceinstance=" + std::to_string(round % 8))
                : cmdtest::with_line(before, "acktimer=" + std::to_string(20 + round));
        r.write_conf(p, files.at(p));
        std::vector<std::string> args{action};
        if (action.size() == 2 && action != "-P" && action != "-U")
            args.push_back(std::to_string(p));
        const auto at = std::chrono::milliseconds(rng() % 700);
        SCOPED_TRACE("round " + std::to_string(round) + ": " + args[0] + " of PPA " +
                     std::to_string(p) + " killed at " + std::to_string(at.count()) + " ms");
        const pid_t pid = cmdtest::start_llc2(r, args);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(at);
        cmdtest::kill_llc2(pid);
        // Half the time the file goes back to what it said before: the
        // values a killed run may have left are then the ones it lacks.
        if (rng() % 2 == 0) {
            files.at(p) = before;
            r.write_conf(p, before);
        }

        const llc2test::Run told = r.run_llc2({"--status"});
        const std::vector<std::string> trace = cmdtest::trace(r);
        const json state = r.state();
        ASSERT_FALSE(state.is_null()) << "no state line";
        for (int q = 0; q < PPAS; ++q) {
            if (told.out.find("PPA " + std::to_string(q) + ": up\n") == std::string::npos)
                continue;
            EXPECT_EQ(last_init(trace, q), file_init(files.at(q), q))
                << "PPA " << q << " told up for values the driver does not hold";
            std::string text = files.at(q);
            conf_values v;
            ASSERT_EQ(read_conf_and_close(fmemopen(text.data(), text.size(), "r"), v), 0);
            for (const json &held : state.value("ppas", json::array())) {
                if (held.value("ppa", -1) == q) {
                    EXPECT_EQ(held.value("instance", -1), v.instance)
                        << "PPA " << q << " told up on another link";
                }
            }
        }
        bool unbound = false;
        for (const json &link : state.value("links", json::array()))
            unbound = unbound || link["ppa"].is_null();
        if (unbound) {
            EXPECT_NE(told.status, 0) << "a link no PPA holds, unseen: " << told.out;
        }
        // A link whose identifier no run learnt can only go with all the
        // others.
        if (told.out.find("Links made by an interrupted run may be held") != std::string::npos) {
            EXPECT_EQ(r.run_llc2({"-U"}).status, 0);
        }
        const llc2test::Run apply = r.run_llc2({"--apply"});
        EXPECT_EQ(apply.status, 0) << apply.err;
        const llc2test::Run after = r.run_llc2({"--status"});
        EXPECT_EQ(after.status, 0) << after.out;
        if (HasFailure())
            break;
    }
}

} // namespace
