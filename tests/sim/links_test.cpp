// SPDX-License-Identifier: Apache-2.0
// The links the driver holds: I_PUNLINK of MUXID_ALL, and the "state" line
// that llc2sim writes on SIGUSR1 and when it ends.
#include "drv.h"
#include "errnames.h"
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace
{

using json = nlohmann::json;

// xnic and tnic; PPA 0 plumbed before on xnic with link 4.
constexpr const char scenario[] = R"({"interfaces": [{"name": "xnic"}, {"name": "tnic"}],
    "ppas": [{"ppa": 0, "link_id": 4, "state": 4}], "faults": [%s]})";

std::string scenario_with(const std::string &faults)
{
    std::string s = scenario;
    return s.replace(s.find("%s"), 2, faults);
}

// "link_id/lower_device/ppa" for each link, in order of identifiers.
std::string links_of(const json &state)
{
    if (!state.is_object())
        return "(no state line)";
    std::string s;
    for (const json &l : state.value("links", json::array()))
        s += (s.empty() ? "" : " ") + std::to_string(l.value("link_id", -2)) + "/" +
             l.value("lower_device", "?") + "/" + l["ppa"].dump();
    return s;
}

// "ppa/link_id/state" for each PPA.
std::string ppas_of(const json &state)
{
    if (!state.is_object())
        return "(no state line)";
    std::string s;
    for (const json &p : state.value("ppas", json::array()))
        s += (s.empty() ? "" : " ") + std::to_string(p.value("ppa", -2)) + "/" +
             std::to_string(p.value("link_id", -2)) + "/" + std::to_string(p.value("state", -2));
    return s;
}

// A link made through fd: its identifier, or -1.
int new_link(const llc2test::SimRoot &sim, int fd, const char *iface)
{
    const int lower = stream_open(sim.dev(iface).c_str(), O_RDWR);
    const int id = stream_link(fd, lower);
    stream_close(lower);
    return id;
}

struct unlink_all_row {
    const char *name;
    const char *fault;
    const char *on; // the device of the stream that asks
    int err;        // 0: it succeeds
    const char *left;
    int unlinked;
};

// A run killed between I_PLINK and SETPPA left link 1 under no PPA; another
// bound PPA 2 to link 2; PPA 0 came with the scenario. A later run, on a
// stream of its own, asks for every link to go.
TEST(links, unlink_all_takes_bound_and_unbound_links)
{
    const char *all = "1/xnic/null 2/tnic/2 4/xnic/0";
    const unlink_all_row rows[] = {
        {"every_link", "", "llc2", 0, "", 3},
        {"refused", R"({"request": "punlink", "errno": "EBUSY"})", "llc2", EBUSY, all, 0},
        {"fault_on_one_ppa_passes", R"({"request": "punlink", "ppa": 0, "errno": "EBUSY"})", "llc2",
         0, "", 3},
        {"interface_stream", "", "xnic", EINVAL, all, 0},
    };
    for (const unlink_all_row &row : rows) {
        SCOPED_TRACE(row.name);
        llc2test::SimRoot sim;
        ASSERT_NO_THROW(sim.start_sim_text(scenario_with(row.fault)));
        const int killed = stream_open(sim.dev("llc2").c_str(), O_RDWR);
        ASSERT_EQ(new_link(sim, killed, "xnic"), 1);
        ASSERT_EQ(new_link(sim, killed, "tnic"), 2);
        ASSERT_EQ(drv_setppa(killed, 2, 2, 0), 0);
        stream_close(killed);
        ASSERT_EQ(links_of(sim.state()), all);

        const int fd = stream_open(sim.dev(row.on).c_str(), O_RDWR);
        errno = 0;
        const int r = stream_unlink(fd, MUXID_ALL);
        EXPECT_EQ(r < 0 ? errno : r, row.err);
        json line = sim.log("unlink").back(); // a missing field reads null
        EXPECT_EQ(line["link_id"], -1);
        EXPECT_EQ(line["unlinked"], row.unlinked);
        EXPECT_EQ(line["result"], row.err != 0 ? errno_name(row.err) : "ok");

        const json st = sim.state();
        EXPECT_EQ(links_of(st), row.left);
        // The driver answers for the PPAs as the state says: held only with
        // their links.
        const int ctl = stream_open(sim.dev("llc2").c_str(), O_RDWR);
        for (const int ppa : {0, 2}) {
            ppa_info info{};
            EXPECT_EQ(drv_getppa(ctl, ppa, info), row.err != 0 ? 0 : -1) << ppa;
        }
        EXPECT_EQ(ppas_of(st), row.err != 0 ? "0/4/4 2/2/0" : "");
        if (row.err == 0) {
            // Nothing left: the next one succeeds and takes none.
            EXPECT_EQ(stream_unlink(ctl, MUXID_ALL), 0);
            EXPECT_EQ(sim.log("unlink").back()["unlinked"], 0);
        }
        stream_close(ctl);
        stream_close(fd);
    }
}

struct state_step {
    const char *name;
    int (*act)(const llc2test::SimRoot &, int fd); // 0 or more on success
    const char *links;
    const char *ppas;
};

// Each step changes the driver's state; the line written after it shows
// every link with its PPA, or null, and every PPA.
TEST(links, state_line_shows_links_and_their_ppas)
{
    const state_step steps[] = {
        {"scenario", [](const auto &, int) { return 0; }, "4/xnic/0", "0/4/4"},
        {"plink", [](const auto &sim, int fd) { return new_link(sim, fd, "tnic"); },
         "1/tnic/null 4/xnic/0", "0/4/4"},
        {"setppa", [](const auto &, int fd) { return drv_setppa(fd, 3, 1, 0); },
         "1/tnic/3 4/xnic/0", "0/4/4 3/1/0"},
        {"enable", [](const auto &, int fd) { return drv_enable(fd, 3); }, "1/tnic/3 4/xnic/0",
         "0/4/4 3/1/1"},
        {"punlink", [](const auto &, int fd) { return stream_unlink(fd, 4); }, "1/tnic/3", "3/1/1"},
    };
    llc2test::SimRoot sim;
    ASSERT_NO_THROW(sim.start_sim_text(scenario_with("")));
    const int fd = stream_open(sim.dev("llc2").c_str(), O_RDWR);
    for (const state_step &step : steps) {
        SCOPED_TRACE(step.name);
        ASSERT_GE(step.act(sim, fd), 0) << std::strerror(errno);
        const json st = sim.state();
        ASSERT_TRUE(st.is_object()) << "no state line after SIGUSR1";
        EXPECT_EQ(st.value("reason", ""), "SIGUSR1");
        EXPECT_EQ(links_of(st), step.links);
        EXPECT_EQ(ppas_of(st), step.ppas);
    }
    stream_close(fd);
    // The log ends with the state llc2sim ended in.
    ASSERT_EQ(sim.stop_sim(), 0);
    const json last = sim.log().back();
    ASSERT_EQ(last.value("kind", ""), "state");
    EXPECT_EQ(last.value("reason", ""), "exit");
    EXPECT_EQ(links_of(last), "1/tnic/3");
    EXPECT_EQ(last["ppas"][0],
              json::parse(R"({"ppa": 3, "link_id": 1, "device": "tnic", "instance": 0,
                              "state": 1, "id": 2, "mac": "02:00:00:01:00:00"})"));
}

} // namespace
