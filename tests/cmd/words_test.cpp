// SPDX-License-Identifier: Apache-2.0
// The words llc2 prints for a PPA are read by programs in other languages:
// every --status form goes through the monitoring plugin and must come out
// as the state its meaning says, and every --apply word through the
// collection's reader and must come back whole. A word added to the table
// without teaching them fails here.
#include "status_words.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// What a command wrote on standard output.
std::string output_of(const std::string &command)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (p == nullptr)
        return out;
    std::array<char, 512> buf{};
    while (std::fgets(buf.data(), static_cast<int>(buf.size()), p) != nullptr)
        out += buf.data();
    pclose(p);
    return out;
}

// Every line a form can give: each state word where it starts with one.
std::vector<std::string> lines_of(const status_form &f)
{
    if (!f.form.starts_with("%s"))
        return {fill(f.form, {"Input/output error: a (b) | c", "1"})};
    std::vector<std::string> out;
    for (const char *state : {"up", "down", "off", "bad", "not plumbed"})
        out.push_back(fill(f.form, {state, "llc2.3:2: invalid line: x=(y)", "1"}));
    return out;
}

struct Words : ::testing::Test {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("llc2words." + std::to_string(getpid()));
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
};

TEST_F(Words, EveryStatusFormReadsAsMeantByThePlugin)
{
    const std::string stub = (dir / "llc2").string();
    // Each PPA's forms, and the lines of links left under no PPA.
    std::vector<std::pair<std::string, status_form>> all;
    for (const status_form &f : STATUS_FORMS)
        for (const std::string &words : lines_of(f))
            all.emplace_back("PPA 3: " + words, f);
    all.emplace_back("Link 7: " + fill(LINK_LEFT.form, {}), LINK_LEFT);
    all.emplace_back(fill(LINE_UNASKED.form, {"2", "63", "the driver does not answer"}),
                     LINE_UNASKED);
    all.emplace_back(fill(LINE_UNKNOWN_LINKS.form, {}), LINE_UNKNOWN_LINKS);
    for (const auto &[words, f] : all) {
        {
            SCOPED_TRACE(words);
            // llc2's exit status goes with its meaning, as --status sets it.
            const int exit = f.meaning == verdict::as_configured ? 0
                             : f.meaning == verdict::cannot_tell ? 4
                                                                 : 3;
            {
                std::ofstream script(stub);
                script << "#!/bin/sh\ncat <<'EOF'\n" << words << "\nEOF\nexit " << exit << "\n";
            }
            std::filesystem::permissions(stub, std::filesystem::perms::owner_all);
            const std::string said = output_of("sh " LLC2_CHECK_PLUGIN " -l " + stub);
            static constexpr std::array<const char *, 4> states{"OK", "WARNING", "UNKNOWN",
                                                                "CRITICAL"};
            EXPECT_EQ(said.substr(0, said.find(" - ")),
                      std::string("LLC2 ") + states.at(static_cast<std::size_t>(f.meaning)))
                << said;
            // What is not as configured is shown, a '|' passed on as '!'.
            std::string shown = words;
            std::replace(shown.begin(), shown.end(), '|', '!');
            if (f.meaning != verdict::as_configured) {
                EXPECT_NE(said.find("\n" + shown + "\n"), std::string::npos) << said;
            }
            // A PPA pending or not told is named in the summary by its own
            // words, "up, " and the reason left out: never by another's.
            if (words.starts_with("PPA ") &&
                (f.meaning == verdict::unproven || f.meaning == verdict::cannot_tell)) {
                std::string own = words.substr(words.find(": ") + 2);
                own = own.substr(own.starts_with("up, ") ? 4 : 0);
                own = own.substr(0, own.find(" ("));
                EXPECT_NE(said.find(" - 1 of 1 PPA " + own + " |"), std::string::npos) << said;
            }
        }
    }
}

TEST_F(Words, EveryApplyWordComesBackWholeFromTheCollectionsReader)
{
    std::string text;
    std::string want;
    for (std::size_t i = 0; i < APPLY_DONE.size(); ++i) {
        text += "PPA " + std::to_string(i) + ": " + std::string(APPLY_DONE.at(i)) + "\n";
        want += std::to_string(i) + "|" + std::string(APPLY_DONE.at(i)) + "|\n";
        text += "PPA " + std::to_string(i + 100) + ": would " + std::string(APPLY_WOULD.at(i)) +
                " (acktimer, maxretry)\n";
        want += std::to_string(i + 100) + "|would " + std::string(APPLY_WOULD.at(i)) +
                "|acktimer,maxretry\n";
    }
    // A link's line is no PPA's, nor is the line of links that may be
    // held: passed over, no PPA read out of them.
    text += "Link 2: " + std::string(LINK_UNLINKED) + "\n";
    text += "Link 3: " + std::string(LINK_WOULD_UNLINK) + "\n";
    text += fill(LINE_UNKNOWN_LINKS.form, {}) + "\n";
    const std::string input = (dir / "lines").string();
    std::ofstream(input) << text;
    const std::string program =
        "import importlib.util, sys\n"
        "where = importlib.util.spec_from_file_location('llc2', sys.argv[1])\n"
        "m = importlib.util.module_from_spec(where); where.loader.exec_module(m)\n"
        "for s in m.status_lines(open(sys.argv[2]).read()):\n"
        "    print('%d|%s|%s' % (s['ppa'], s['words'], ','.join(s['keywords'])))\n";
    const std::string script = (dir / "read.py").string();
    std::ofstream(script) << program;
    EXPECT_EQ(output_of("python3 " + script + " " LLC2_MODULE_UTILS " " + input), want);
}

} // namespace
