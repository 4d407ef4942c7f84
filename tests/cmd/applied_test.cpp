// SPDX-License-Identifier: Apache-2.0
// The applied records: the link part that plumbing writes, the parameter
// part that initialising writes, what -r, -u and a failed -p remove, read
// back as llc2 reads them; what reads as none; what counts as pending.
#include "cmd_test_util.h"

#include <fstream>
#include <gtest/gtest.h>

namespace
{

using nlohmann::json;

// Every parameter apart: acktimer 0 and rcvwindowsz 65556 go as 2 and 20.
const std::string conf = "devicename=xnic\ndeviceinstance=1\nllc2_on=1\ndeviceloopback=0\n"
                         "timeinterval=11\nacktimer=0\nrsptimer=13\npolltimer=14\n"
                         "rejecttimer=15\nrembusytimer=16\ninacttimer=17\nmaxretry=18\n"
                         "xmitwindowsz=19\nrcvwindowsz=65556\n";

// "link xnic/1 1; params yes id 1 mac 2 0 0 161 178 196 sent 2 14 ...",
// sent in INIT_PARAMS order; "" for no part at all.
std::string summary(const cmdtest::record_parts &rec)
{
    std::ostringstream s;
    if (rec.link)
        s << "link " << rec.link->devicename << '/' << rec.link->instance << ' '
          << rec.link->link_id << ";";
    if (const auto &p = rec.params) {
        s << " params " << (p->confirmed ? "yes" : "no") << " id " << p->id << " mac";
        for (std::size_t i = 0; i < 16; ++i)
            s << (i == 6 ? " sent " : " ") << (i < 6 ? p->mac.at(i) : p->sent.at(i - 6)) + 0;
    }
    return s.str();
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    if (const std::size_t at = text.find(from); !from.empty() && at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

const std::string run_dir = std::string(LLC2_RUNSTATEDIR).substr(1) + "/llc2";
const std::string sent = " sent 2 14 15 16 17 18 19 20 11 13";
const std::string fresh = "link xnic/1 1; params yes id 1 mac 2 0 0 161 178 196" + sent;
const std::string ones = " sent 1 1 1 1 1 1 1 1 1 1";

TEST(Applied, ActionsWriteAndRemoveTheirParts)
{
    enum before { none, seeded, dir_is_file, params_is_dir };
    const struct {
        std::vector<std::string> args;
        int ppa;
        bool held;         // plumbed on xnic instance 0 as id 9, link 5
        const char *fault; // request refused with EIO, or ""
        before prep;
        int status;
        std::string err, record; // summary
    } cases[] = {
        // clang-format off
        {{"-p"}, 3, false, "", none, 0, "", fresh},
        {{"-P"}, 3, false, "", seeded, 0, "", fresh},
        // The last number GETPPA can carry is recorded; the driver takes no
        // PPA beyond it.
        {{"-p"}, 255, false, "", none, 0, "", fresh},
        {{"-P"}, 255, false, "", none, 0, "", fresh},
        {{"-p"}, 256, false, "", none, 255,
         "Error setting PPA(256) on DEV/xnic: Invalid argument\nCannot plumb PPA 256\n", ""},
        // -i writes the parameters and leaves the link as it was recorded.
        {{"-i"}, 3, true, "", none, 0, "", " params yes id 9 mac 2 0 0 0 0 9" + sent},
        {{"-i"}, 255, true, "", none, 0, "", " params yes id 9 mac 2 0 0 0 0 9" + sent},
        {{"-i"}, 3, true, "", seeded, 0, "", "link other/0 5; params yes id 9 mac 2 0 0 0 0 9" + sent},
        // Sent but not seen taken: written, marked so, and the run fails.
        {{"-i"}, 3, true, "getppa", seeded, 255, "Cannot record PPA 3: Input/output error\n",
         "link other/0 5; params no id 0 mac 0 0 0 0 0 0" + sent},
        {{"-p"}, 3, false, "init", seeded, 255, "Error initialization PPA 3\n", ""},
        {{"-r"}, 3, true, "", seeded, 0, "", "link other/0 5;"},
        {{"-u"}, 3, true, "", seeded, 0, "", ""},
        // A PPA not held is plumbed unrecorded, said once; one held is not
        // touched.
        {{"-p"}, 3, false, "", dir_is_file, 255,
         "llc2: cannot lock %LOCK%: Not a directory; PPAs the driver holds are left as they are\n"
         "Cannot record PPA 3: Not a directory\n", ""},
        {{"-r"}, 3, true, "", params_is_dir, 255,
         "Cannot record PPA 3: Is a directory; left as it is\n", ""},
        // clang-format on
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + std::to_string(c.ppa) + " " + std::to_string(c.prep));
        llc2test::SimRoot r;
        r.write_conf(c.ppa, conf);
        json s = llc2test::default_scenario();
        if (c.held)
            s["ppas"] = {{{"ppa", c.ppa},
                          {"instance", 0},
                          {"id", 9},
                          {"mac", "02:00:00:00:00:09"},
                          {"link_id", 5}}};
        if (*c.fault != '\0')
            s["faults"] = {{{"request", c.fault}, {"errno", "EIO"}}};
        r.start_sim(s);
        const ppa_info now{0, 4, 9, {2, 0, 0, 0, 0, 9}};
        if (c.prep == seeded)
            cmdtest::seed_record(r, c.ppa, {"other", 0, 5}, &now);
        if (c.prep == dir_is_file || c.prep == params_is_dir)
            r.write_file(c.prep == dir_is_file
                             ? run_dir
                             : run_dir + "/ppa." + std::to_string(c.ppa) + ".params/x",
                         "");
        const std::time_t from = std::time(nullptr);
        std::vector<std::string> args = c.args;
        if (args[0] != "-P")
            args.push_back(std::to_string(c.ppa));
        const llc2test::Run run = r.run_llc2(args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, replaced(replaced(c.err, "DEV", r.path("dev")), "%LOCK%",
                                    r.path(run_dir + "/.lock")));
        const cmdtest::record_parts rec = cmdtest::applied_of(r, c.ppa);
        EXPECT_EQ(summary(rec), c.record);
        EXPECT_TRUE(!rec.params ||
                    (rec.params->at >= from && rec.params->at <= std::time(nullptr)));
    }
}

TEST(Applied, ADamagedPartReadsAsNone)
{
    const struct {
        const char *part;
        std::string from, to;
    } cases[] = {
        {"link", "=other\n", "=" + std::string(1024, 'x') + "\n"},
        {"link", "# llc2's", "# llc3's"},
        {"link", "link_id=5\n", "link_id=5"},
        {"link", "link_id=5\n", "link_id=-1\n"},
        {"link", "\n", "\r\n"},
        {"params", "id=9\n", ""},
        {"params", "id=9\n", "id=09\n"},
        {"params", "confirmed=yes", "confirmed=maybe"},
        {"params", "mac=020000000009", "mac=02000000000A"},
        {"params", "acktimer=1\n", "acktimer=1\n" + std::string(4096, '#')},
        {"params", "at=", "at=2026-02-30T00:00:00Z\nx="},
    };
    llc2test::SimRoot r;
    const ppa_info now{3, 4, 9, {2, 0, 0, 0, 0, 9}};
    cmdtest::seed_record(r, 3, {"other", 0, 5}, &now);
    const std::string seeded = summary(cmdtest::applied_of(r, 3));
    EXPECT_EQ(seeded, "link other/0 5; params yes id 9 mac 2 0 0 0 0 9" + ones);
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.part) + ": " + c.to.substr(0, 40));
        const std::string path = run_dir + "/ppa.3." + c.part;
        std::ifstream in(r.path(path));
        const std::string good{std::istreambuf_iterator<char>(in), {}};
        r.write_file(path, replaced(good, c.from, c.to));
        const cmdtest::record_parts rec = cmdtest::applied_of(r, 3);
        EXPECT_EQ(std::string(c.part) == "link" ? bool(rec.link) : bool(rec.params), false);
        EXPECT_EQ(std::string(c.part) == "link" ? bool(rec.params) : bool(rec.link), true);
        r.write_file(path, good);
    }
}

TEST(Applied, PendingKeywords)
{
    const std::string all_params = "timeinterval acktimer rsptimer polltimer rejecttimer "
                                   "rembusytimer inacttimer maxretry xmitwindowsz rcvwindowsz";
    const struct {
        std::string from, to;
        bool link, params; // the record has the part
        std::string pending;
    } cases[] = {
        {"", "", true, true, ""},
        {"acktimer=0", "acktimer=4", true, true, "acktimer"},
        {"timeinterval=11\nacktimer=0", "timeinterval=1\nacktimer=9", true, true,
         "timeinterval acktimer"},
        {"xnic\ndeviceinstance=1", "xnix\ndeviceinstance=2", true, true,
         "devicename deviceinstance"},
        {"", "", false, true, "devicename deviceinstance"},
        {"", "", true, false, all_params},
        {"", "", false, false, "devicename deviceinstance " + all_params},
    };
    auto read = [](std::string text) {
        conf_values v;
        EXPECT_EQ(read_conf_and_close(fmemopen(text.data(), text.size(), "r"), v), 0);
        return v;
    };
    const ctl_init init = make_ctl_init(3, read(conf).params.data());
    applied_params params;
    for (std::size_t i = 0; i < INIT_PARAMS.size(); ++i)
        params.sent.at(i) = init.*INIT_PARAMS.at(i).field;
    const plumbed_link link{"xnic", 1, 4};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pending);
        std::string got;
        for (const char *k :
             pending_keywords(c.link ? &link : nullptr, c.params ? &params : nullptr,
                              read(replaced(conf, c.from, c.to))))
            got += (got.empty() ? "" : " ") + std::string(k);
        EXPECT_EQ(got, c.pending);
    }
}

} // namespace
