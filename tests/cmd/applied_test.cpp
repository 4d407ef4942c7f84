// The applied records: what -p, -P and -i write and -r and a failed -p remove,
// read back as llc2 reads them; what reads as none; what counts as changed.
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

// Another run's record of PPA 3: other0, link 5, driver id 9 with MAC ...:09,
// or what a stale one holds instead.
applied_record other(std::uint16_t id = 9, std::uint8_t mac = 9)
{
    return {"other", 0, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 1782907200, id, {2, 0, 0, 0, 0, mac}, 5};
}

// "xnic/1 link 1 id 1 mac 2 0 0 161 178 196 sent 2 14 ...", sent in INIT_PARAMS order.
std::string summary(const std::optional<applied_record> &rec)
{
    std::ostringstream s;
    if (rec)
        s << rec->devicename << '/' << rec->instance << " link " << rec->link_id << " id "
          << rec->id << " mac";
    for (std::size_t i = 0; rec && i < 16; ++i)
        s << (i == 6 ? " sent " : " ") << (i < 6 ? rec->mac.at(i) : rec->sent.at(i - 6)) + 0;
    return s.str();
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    if (const std::size_t at = text.find(from); !from.empty() && at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

const std::string run_dir = std::string(LLC2_RUNSTATEDIR).substr(1) + "/llc2";

TEST(Applied, ActionsWriteAndRemoveTheirRecords)
{
    enum before { none, matching, other_id, other_mac, dir_is_file, record_is_dir };
    const std::string sent = " sent 2 14 15 16 17 18 19 20 11 13";
    const struct {
        std::vector<std::string> args;
        bool held;         // PPA 3 plumbed on xnic instance 0 as id 9
        const char *fault; // request refused with EIO, or ""
        before prep;
        int status;
        std::string err, record; // summary, "" for none
    } cases[] = {
        // clang-format off
        {{"-p", "3"}, false, "", none, 0, "", "xnic/1 link 1 id 1 mac 2 0 0 161 178 196" + sent},
        {{"-P"}, false, "", other_id, 0, "", "xnic/1 link 1 id 1 mac 2 0 0 161 178 196" + sent},
        // -i keeps the link of a record the driver still matches, else takes the file's.
        {{"-i", "3"}, true, "", none, 0, "", "xnic/1 link -1 id 9 mac 2 0 0 0 0 9" + sent},
        {{"-i", "3"}, true, "", matching, 0, "", "other/0 link 5 id 9 mac 2 0 0 0 0 9" + sent},
        {{"-i", "3"}, true, "", other_id, 0, "", "xnic/1 link -1 id 9 mac 2 0 0 0 0 9" + sent},
        {{"-i", "3"}, true, "", other_mac, 0, "", "xnic/1 link -1 id 9 mac 2 0 0 0 0 9" + sent},
        {{"-i", "3"}, true, "getppa", matching, 0, "Cannot record PPA 3: Input/output error\n", ""},
        {{"-p", "3"}, false, "init", other_id, 255, "Error initialization PPA 3\n", ""},
        {{"-r", "3"}, true, "", matching, 0, "", ""},
        {{"-p", "3"}, false, "", dir_is_file, 0, "llc2: cannot lock %LOCK%: Not a directory; going on without the lock\nCannot record PPA 3: Not a directory\n", ""},
        {{"-r", "3"}, true, "", record_is_dir, 0, "Cannot record PPA 3: Is a directory\n", ""},
        // clang-format on
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + std::to_string(c.prep));
        llc2test::SimRoot r;
        r.write_conf(3, conf);
        json s = llc2test::default_scenario();
        if (c.held)
            s["ppas"] = {{{"ppa", 3}, {"instance", 0}, {"id", 9}, {"mac", "02:00:00:00:00:09"}}};
        if (*c.fault != '\0')
            s["faults"] = {{{"request", c.fault}, {"errno", "EIO"}}};
        r.start_sim(s);
        const applied_record seed = other(c.prep == other_id ? 8 : 9, c.prep == other_mac ? 8 : 9);
        if (c.prep == matching || c.prep == other_id || c.prep == other_mac)
            (void)cmdtest::applied_of(r, 3, &seed);
        if (c.prep == dir_is_file || c.prep == record_is_dir)
            r.write_file(c.prep == dir_is_file ? run_dir : run_dir + "/ppa.3/x", "");
        const std::time_t from = std::time(nullptr);
        const llc2test::Run run = r.run_llc2(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, replaced(c.err, "%LOCK%", r.path(run_dir + "/.lock")));
        const std::optional<applied_record> rec = cmdtest::applied_of(r, 3);
        EXPECT_EQ(summary(rec), c.record);
        EXPECT_TRUE(!rec || (rec->at >= from && rec->at <= std::time(nullptr)));
    }
}

TEST(Applied, ADamagedRecordReadsAsNone)
{
    const struct {
        std::string from, to;
    } cases[] = {
        {"=other\n", "=" + std::string(1024, 'x') + "\n"},
        {"# llc2's", "# llc3's"},
        {"id=9\n", ""},
        {"id=9\n", "id=09\n"},
        {"mac=020000000009", "mac=02000000000A"},
        {"2026-07-01T", "2026-02-30T"},
        {"link_id=5\n", "link_id=5"},
    };
    llc2test::SimRoot r;
    const applied_record seed = other();
    EXPECT_EQ(summary(cmdtest::applied_of(r, 3, &seed)), summary(seed));
    std::ifstream in(r.path(run_dir + "/ppa.3"));
    const std::string good{std::istreambuf_iterator<char>(in), {}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.to);
        r.write_file(run_dir + "/ppa.3", replaced(good, c.from, c.to));
        EXPECT_FALSE(cmdtest::applied_of(r, 3));
    }
}

TEST(Applied, PendingKeywords)
{
    const struct {
        std::string from, to, pending;
    } cases[] = {
        {"", "", ""},
        {"acktimer=0", "acktimer=4", "acktimer"},
        {"timeinterval=11\nacktimer=0", "timeinterval=1\nacktimer=9", "timeinterval acktimer"},
        {"xnic\ndeviceinstance=1", "xnix\ndeviceinstance=2", "devicename deviceinstance"},
    };
    auto read = [](std::string text) {
        conf_values v;
        EXPECT_EQ(read_conf_and_close(fmemopen(text.data(), text.size(), "r"), v), 0);
        return v;
    };
    const applied_record rec = make_applied("xnic", 1, make_ctl_init(3, read(conf).params.data()),
                                            ppa_info{3, 4, 9, {2, 0, 0, 0, 0, 9}}, 1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pending);
        std::string got;
        for (const char *k : pending_keywords(rec, read(replaced(conf, c.from, c.to))))
            got += (got.empty() ? "" : " ") + std::string(k);
        EXPECT_EQ(got, c.pending);
    }
}

} // namespace
