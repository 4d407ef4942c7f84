// The applied records: what -p, -P and -i write and -r and a failed -p
// remove, read back as llc2 reads them; what reads as no record; what
// counts as changed since.
#include "cmd_test_util.h"

#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>

namespace
{

using nlohmann::json;

// Every parameter set apart: acktimer 0 and rcvwindowsz 65556 go as their
// default 2 and as 20.
const std::string conf = "devicename=xnic\ndeviceinstance=1\nllc2_on=1\ndeviceloopback=0\n"
                         "timeinterval=11\nacktimer=0\nrsptimer=13\npolltimer=14\n"
                         "rejecttimer=15\nrembusytimer=16\ninacttimer=17\nmaxretry=18\n"
                         "xmitwindowsz=19\nrcvwindowsz=65556\n";
const std::string sent = " sent 2 14 15 16 17 18 19 20 11 13"; // INIT_PARAMS order

// A record of another run: PPA 3 on other0, link 5, driver id 9.
applied_record other(std::uint16_t id)
{
    applied_record rec{
        "other", 0, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 1782907200, id, {2, 0, 0, 0, 0, 9}, 5};
    return rec;
}

std::string summary(const applied_record &rec)
{
    std::ostringstream s;
    s << rec.devicename << '/' << rec.instance << " link " << rec.link_id << " id " << rec.id
      << " mac";
    for (const int b : rec.mac)
        s << ' ' << b;
    s << " sent";
    for (const int v : rec.sent)
        s << ' ' << v;
    return s.str();
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    if (const std::size_t at = text.find(from); !from.empty() && at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

std::string run_dir()
{
    return std::string(LLC2_RUNSTATEDIR).substr(1) + "/llc2";
}

TEST(Applied, ActionsWriteAndRemoveTheirRecords)
{
    enum before { none, matching, stale, dir_is_file, record_is_dir };
    const struct {
        const char *args;
        bool held;  // PPA 3 plumbed on xnic instance 0 as id 9
        json fault; // or null
        before prep;
        int status;
        std::string err;
        std::string record; // summary(), or "" for none
    } cases[] = {
        {"-p", false, nullptr, none, 0, "", "xnic/1 link 1 id 1 mac 2 0 0 161 178 196" + sent},
        {"-P", false, nullptr, stale, 0, "", "xnic/1 link 1 id 1 mac 2 0 0 161 178 196" + sent},
        // -i keeps the link of a record the driver still matches, else the file's.
        {"-i", true, nullptr, none, 0, "", "xnic/1 link -1 id 9 mac 2 0 0 0 0 9" + sent},
        {"-i", true, nullptr, matching, 0, "", "other/0 link 5 id 9 mac 2 0 0 0 0 9" + sent},
        {"-i", true, nullptr, stale, 0, "", "xnic/1 link -1 id 9 mac 2 0 0 0 0 9" + sent},
        {"-i",
         true,
         {{"request", "getppa"}, {"errno", "EIO"}},
         matching,
         0,
         "Cannot record PPA 3: Input/output error\n",
         ""},
        {"-p",
         false,
         {{"request", "init"}, {"errno", "EIO"}},
         stale,
         255,
         "Error initialization PPA 3\n",
         ""},
        {"-r", true, nullptr, matching, 0, "", ""},
        {"-p", false, nullptr, dir_is_file, 0, "Cannot record PPA 3: Not a directory\n", ""},
        {"-r", true, nullptr, record_is_dir, 0, "Cannot record PPA 3: Is a directory\n", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.args) + " " + std::to_string(c.prep));
        llc2test::SimRoot r;
        r.write_conf(3, conf);
        json s = llc2test::default_scenario();
        if (c.held)
            s["ppas"] = {{{"ppa", 3}, {"instance", 0}, {"id", 9}, {"mac", "02:00:00:00:00:09"}}};
        if (!c.fault.is_null())
            s["faults"] = json::array({c.fault});
        r.start_sim(s);
        if (c.prep == matching || c.prep == stale)
            cmdtest::seed_applied(r, 3, other(c.prep == matching ? 9 : 8));
        if (c.prep == dir_is_file)
            r.write_file(run_dir(), "");
        if (c.prep == record_is_dir)
            r.write_file(run_dir() + "/ppa.3/x", "");
        const std::time_t from = std::time(nullptr);
        const llc2test::Run run =
            r.run_llc2(c.args[1] == 'P' ? std::vector<std::string>{c.args}
                                        : std::vector<std::string>{c.args, "3"});
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, c.err);
        const std::optional<applied_record> rec = cmdtest::applied_of(r, 3);
        EXPECT_EQ(rec ? summary(*rec) : "", c.record);
        if (rec) {
            EXPECT_GE(rec->at, from);
            EXPECT_LE(rec->at, std::time(nullptr));
        }
    }
}

TEST(Applied, ADamagedRecordReadsAsNone)
{
    const struct {
        std::string from, to;
        bool reads;
    } cases[] = {
        {"", "", true},
        {"=other\n", "=" + std::string(1023, 'x') + "\n", true},
        {"=other\n", "=" + std::string(1024, 'x') + "\n", false},
        {"=other\n", std::string("=o\0her\n", 7), false},
        {"# llc2's", "# llc3's", false},
        {"id=9\n", "", false},
        {"id=9\n", "id=09\n", false},
        {"id=9\n", "id=9\nid=9\n", false},
        {"acktimer=1\n", "acktimer=65536\n", false},
        {"link_id=5", "link_id=+5", false},
        {"mac=020000000009", "mac=02000000000A", false},
        {"mac=020000000009", "mac=02000000009", false},
        {"2026-07-01T", "2026-02-30T", false},
        {"12:00:00Z", "24:00:00Z", false},
        {"link_id=5\n", "link_id=5", false},
    };
    llc2test::SimRoot r;
    cmdtest::seed_applied(r, 3, other(9));
    std::ifstream in(r.path(run_dir() + "/ppa.3"));
    const std::string good{std::istreambuf_iterator<char>(in), {}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.to);
        r.write_file(run_dir() + "/ppa.3", replaced(good, c.from, c.to));
        const std::optional<applied_record> rec = cmdtest::applied_of(r, 3);
        EXPECT_EQ(rec.has_value(), c.reads);
        if (rec && c.from.empty()) {
            EXPECT_EQ(summary(*rec), summary(other(9)));
        }
    }
}

TEST(Applied, PendingAndMatching)
{
    const struct {
        std::vector<std::pair<std::string, std::string>> edits; // of the file
        std::string pending;
    } cases[] = {
        {{}, ""},
        {{{"acktimer=0", "acktimer=65536"}}, ""}, // sent as the default, as before
        {{{"acktimer=0", "acktimer=4"}}, "acktimer"},
        {{{"rcvwindowsz=65556", "rcvwindowsz=3"},
          {"devicename=xnic", "devicename=xnix"},
          {"timeinterval=11", "timeinterval=1"}},
         "devicename timeinterval rcvwindowsz"},
        {{{"deviceinstance=1", "deviceinstance=2"}, {"rsptimer=13", "rsptimer=5"}},
         "deviceinstance rsptimer"},
    };
    auto read = [](const std::string &text) {
        conf_values v;
        FILE *fp = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
        EXPECT_EQ(read_conf_and_close(fp, v), 0);
        return v;
    };
    const conf_values base = read(conf);
    const ctl_init init = make_ctl_init(3, base.params.data());
    const ppa_info now{3, 4, 9, {2, 0, 0, 0, 0, 9}};
    const applied_record rec = make_applied("xnic", 1, init, now, 1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pending);
        std::string got;
        std::string text = conf;
        for (const auto &[from, to] : c.edits)
            text = replaced(text, from, to);
        for (const char *k : pending_keywords(rec, read(text)))
            got += (got.empty() ? "" : " ") + std::string(k);
        EXPECT_EQ(got, c.pending);
    }
    ppa_info moved = now;
    EXPECT_TRUE(applied_matches(rec, now));
    moved.id = 8;
    EXPECT_FALSE(applied_matches(rec, moved));
    moved = now;
    moved.mac[5] = 8;
    EXPECT_FALSE(applied_matches(rec, moved));
}

} // namespace
