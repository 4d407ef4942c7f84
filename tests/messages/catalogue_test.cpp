// SPDX-License-Identifier: Apache-2.0
// The German catalogue, found in the build tree: translated where the locale
// asks for German, the English of the sources byte for byte otherwise.
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

namespace
{

using llc2test::SimRoot;

struct Case {
    std::string program;
    std::vector<std::string> args;
    std::vector<std::string> locale; // NAME=VALUE entries
    int status;
    std::string out;
    std::string err; // %ROOT% stands for the root
};

const std::vector<std::string> german{"LC_ALL=C.UTF-8", "LANGUAGE=de"};
const std::vector<std::string> english{"LC_ALL=C.UTF-8"};

std::vector<Case> cases()
{
    const std::string llc2 = llc2test::llc2_binary();
    const std::string conf = LLC2CONF_BINARY;
    const std::string opts = " [-P|-U|-p <ppa>|-u <ppa>|-q]\n";
    const std::string bad_de = "Ungültige PPA-Nummer: 3x\nAufruf: " + llc2 + opts;
    const std::string bad_en = "Invalid PPA number: 3x\nUsage: " + llc2 + opts;
    const std::string more = "\n       " + conf;
    const std::string d = " [-D <verz>] ";
    const std::string usage_de =
        "Aufruf: " + conf + d + "create [-f] [-n] <ppa> <linkname> [schlüsselwort=wert ...]" +
        more + d + "set [-n] <ppa> schlüsselwort=wert ..." + more + d + "delete [-n] <ppa>" + more +
        d + "check [<ppa> ...]" + more + d + "show <ppa>" + more + d + "list [--json]\n";
    const std::string ok_de = "PPA 1: in Ordnung: Gerät xnic, Instanz 1, llc2_on 0\n";
    const std::string ok_en = "PPA 1: ok: device xnic, instance 1, llc2_on 0\n";
    const std::string exists_de = "%ROOT%/etc/llc2/default/llc2.1 existiert; mit -f wird die "
                                  "Datei ersetzt\n";
    return {
        {llc2, {"-p", "3x"}, german, 2, "", bad_de},
        {llc2, {"-p", "3x"}, english, 2, "", bad_en},
        // No catalogue for French: English, not some other language.
        {llc2, {"-p", "3x"}, {"LC_ALL=C.UTF-8", "LANGUAGE=fr"}, 2, "", bad_en},
        // The C locale means untranslated, whatever LANGUAGE says.
        {llc2, {"-p", "3x"}, {"LC_ALL=C", "LANGUAGE=de"}, 2, "", bad_en},
        {conf, {}, german, 2, "", usage_de},
        {conf, {"check", "1"}, german, 0, ok_de, ""},
        {conf, {"check", "1"}, english, 0, ok_en, ""},
        {conf, {"create", "1", "xnic1"}, german, 1, "", exists_de},
    };
}

std::string rooted(std::string text, const std::string &root)
{
    const std::string mark = "%ROOT%";
    if (const auto at = text.find(mark); at != std::string::npos)
        text.replace(at, mark.size(), root);
    return text;
}

TEST(Catalogue, GermanWhereAskedEnglishOtherwise)
{
    for (const Case &c : cases()) {
        SimRoot r;
        r.write_conf(1, llc2test::conf_text("xnic", 1, 0));
        std::vector<std::string> argv{c.program};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::vector<std::string> env{"LLC2_ROOT=" + r.root()};
        env.insert(env.end(), c.locale.begin(), c.locale.end());
        const llc2test::Run run = llc2test::run_program(argv, env, 30);
        SCOPED_TRACE(argv.back() + " with " + c.locale.back());
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, rooted(c.err, r.root()));
    }
}

// The lock message is one catalogue text for every program, which names
// itself in it.
TEST(Catalogue, LockInUseInGermanForEachProgram)
{
    const struct {
        std::string program, lock; // the lock under the root
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {LLC2CONF_BINARY, "etc/llc2/default/.llc2conf.lock", {"set", "1", "acktimer=3"}, 1},
        {llc2test::llc2_binary(),
         std::string(LLC2_RUNSTATEDIR).substr(1) + "/llc2/.lock",
         {"-U"},
         255},
    };
    for (const auto &c : cases) {
        SimRoot r;
        r.write_conf(1, llc2test::conf_text("xnic", 1, 0));
        std::vector<std::string> argv{c.program};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::vector<std::string> env{"LLC2_ROOT=" + r.root(), "LLC2_LOCK_WAIT_MS=100"};
        env.insert(env.end(), german.begin(), german.end());
        const int held = llc2test::hold_lock(r.path(c.lock));
        const llc2test::Run run = llc2test::run_program(argv, env, 30);
        close(held);
        EXPECT_EQ(std::tuple(run.status, run.err),
                  std::tuple(c.status, c.program.substr(c.program.rfind('/') + 1) + ": " +
                                           r.path(c.lock) + ": von Prozess " +
                                           std::to_string(getpid()) +
                                           " belegt; später noch einmal versuchen\n"));
    }
}

} // namespace
