// -p and -i against llc2sim: what reaches the driver, in order, and what the
// administrator reads, for each way plumbing and initialising can go.
#include "cmd_test_util.h"

#include <gtest/gtest.h>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;
using Trace = std::vector<std::string>;

// A configuration whose twelve numeric settings but llc2_on are all value.
std::string conf_all(int value, int llc2_on = 1)
{
    std::string s = "devicename=xnic\ndeviceinstance=1\nllc2_on=" + std::to_string(llc2_on) + "\n";
    for (const char *key :
         {"deviceloopback", "timeinterval", "acktimer", "rsptimer", "polltimer", "rejecttimer",
          "rembusytimer", "inacttimer", "maxretry", "xmitwindowsz", "rcvwindowsz"})
        s += std::string(key) + "=" + std::to_string(value) + "\n";
    return s;
}

json scenario(json ppas, json faults)
{
    json s = llc2test::default_scenario();
    s["ppas"] = std::move(ppas);
    s["faults"] = std::move(faults);
    return s;
}

// "{root}" in an expected message stands for the test's root.
std::string rooted(std::string text, const SimRoot &r)
{
    for (std::size_t at; (at = text.find("{root}")) != std::string::npos;)
        text.replace(at, 6, r.root());
    return text;
}

struct Case {
    const char *name;
    std::vector<std::string> args;
    std::string conf; // PPA 3's file; "" for none
    json scenario;
    int status;
    std::string err;
    Trace trace;
};

void run_cases(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        if (!c.conf.empty())
            r.write_conf(3, c.conf);
        r.start_sim(c.scenario);
        const llc2test::Run run = r.run_llc2(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, rooted(c.err, r));
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(cmdtest::trace(r), c.trace);
    }
}

const json none = json::array();
const json ppa3 = json::array({{{"ppa", 3}, {"instance", 1}, {"link_id", 9}}});

json fault(const char *request, const char *err)
{
    return json::array({{{"request", request}, {"errno", err}}});
}

const Trace plumbed = {"a open llc2", "b open xnic", "a PLINK xnic 1 ok", "a SETPPA 3 15 1 1 ok"};

Trace plus(Trace t, std::initializer_list<std::string> more)
{
    t.insert(t.end(), more);
    return t;
}

TEST(PlumbOne, Outcomes)
{
    const std::string long_name(1019, 'n');
    const std::string longest_name(1018, 'n');
    run_cases({
        {"plumbed on one control stream, initialised on another",
         {"-p", "3"},
         conf_text("xnic", 1),
         scenario(none, none),
         0,
         "",
         plus(plumbed, {"c open llc2", "c ENABLE -1 3 ok", "c INIT 3 2 4 6 8 30 6 14 14 0 2 ok"})},
        {"the same with the debug trace",
         {"-d", "-p", "3"},
         conf_text("xnic", 1),
         scenario(none, none),
         0,
         "Plumbing PPA 3: xnic(1)\n",
         plus(plumbed, {"c open llc2", "c ENABLE -1 3 ok", "c INIT 3 2 4 6 8 30 6 14 14 0 2 ok"})},
        {"switched off: nothing opened, nothing sent",
         {"-d", "-p", "3"},
         conf_text("xnic", 1, 0),
         scenario(none, none),
         255,
         "Skip plumbing PPA 3.\nCannot plumb PPA 3\n",
         {"a open llc2"}},
        {"an unparsable file, said only under -d",
         {"-d", "-p", "3"},
         "devicename=xnic\n",
         scenario(none, none),
         255,
         "Cannot find all required keywords.\nInvalid configuration file llc2.3\n"
         "Cannot plumb PPA 3\n",
         {"a open llc2"}},
        {"a missing interface is silent without -d",
         {"-p", "3"},
         conf_text("nosuch", 0),
         scenario(none, none),
         255,
         "Cannot plumb PPA 3\n",
         {"a open llc2"}},
        {"and named under -d",
         {"-d", "-p", "3"},
         conf_text("nosuch", 0),
         scenario(none, none),
         255,
         "Plumbing PPA 3: nosuch(0)\n"
         "Error opening device {root}/dev/nosuch: No such file or directory\n"
         "Cannot plumb PPA 3\n",
         {"a open llc2"}},
        {"I_PLINK refused: no SETPPA",
         {"-p", "3"},
         conf_text("xnic", 1),
         scenario(none, fault("plink", "EINVAL")),
         255,
         "Error plumbing {root}/dev/xnic: Invalid argument\nCannot plumb PPA 3\n",
         {"a open llc2", "b open xnic", "a PLINK xnic -1 EINVAL"}},
        {"SETPPA refused: the link just made, not another, is removed",
         {"-p", "3"},
         conf_text("xnic", 1),
         scenario(json::array({{{"ppa", 0}, {"link_id", 1}}}), fault("setppa", "EBUSY")),
         255,
         "Error setting PPA(3) on {root}/dev/xnic: Device or resource busy\nCannot plumb PPA 3\n",
         {"a open llc2", "b open xnic", "a PLINK xnic 2 ok", "a SETPPA 3 15 2 1 EBUSY",
          "a PUNLINK 2 ok"}},
        {"the longest device name that fits behind /dev/ is tried",
         {"-p", "3"},
         conf_text(longest_name, 0),
         scenario(none, none),
         255,
         "Cannot plumb PPA 3\n",
         {"a open llc2"}},
        {"one character more is refused before anything is opened",
         {"-p", "3"},
         conf_text(long_name, 0),
         scenario(none, none),
         255,
         "Device name too long: " + long_name + "\nCannot plumb PPA 3\n",
         {"a open llc2"}},
        {"initialisation refused: -p takes the PPA down again",
         {"-p", "3"},
         conf_text("xnic", 1),
         scenario(none, fault("init", "EINVAL")),
         255,
         "Error initialization PPA 3\n",
         plus(plumbed, {"c open llc2", "c ENABLE -1 3 ok", "c INIT 3 2 4 6 8 30 6 14 14 0 2 EINVAL",
                        "c GETLINK 3 15 0 0 ok", "c PUNLINK 1 ok"})},
    });
}

TEST(InitOne, Outcomes)
{
    run_cases({
        {"zeros send the nine defaults and timeinterval 0",
         {"-i", "3"},
         conf_all(0),
         scenario(ppa3, none),
         0,
         "",
         {"a open llc2", "a ENABLE -1 3 ok", "a INIT 3 2 4 6 8 30 6 14 14 0 2 ok"}},
        {"65536 is cut to 0, so the defaults again",
         {"-i", "3"},
         conf_all(65536),
         scenario(ppa3, none),
         0,
         "",
         {"a open llc2", "a ENABLE -1 3 ok", "a INIT 3 2 4 6 8 30 6 14 14 0 2 ok"}},
        {"65537 is cut to 1; a switched-off PPA is initialised when asked for",
         {"-i", "3"},
         conf_all(65537, 0),
         scenario(ppa3, none),
         0,
         "",
         {"a open llc2", "a ENABLE -1 3 ok", "a INIT 3 1 1 1 1 1 1 1 1 1 1 ok"}},
        {"no file: two messages, nothing sent",
         {"-i", "3"},
         "",
         scenario(ppa3, none),
         255,
         "Cannot open {root}/etc/llc2/default/llc2.3: No such file or directory\n"
         "Cannot open configuration files for PPA 3\n",
         {"a open llc2"}},
        {"an unparsable file",
         {"-i", "3"},
         "devicename=xnic\nacktimer=x\n",
         scenario(ppa3, none),
         255,
         "Invalid line: acktimer=x\n\nError reading parameters for PPA 3\n",
         {"a open llc2"}},
        {"the parameters refused: the PPA stays enabled",
         {"-i", "3"},
         conf_text("xnic", 1),
         scenario(ppa3, fault("init", "EIO")),
         255,
         "Error initialization PPA 3\n",
         {"a open llc2", "a ENABLE -1 3 ok", "a INIT 3 2 4 6 8 30 6 14 14 0 2 EIO"}},
    });
}

} // namespace
