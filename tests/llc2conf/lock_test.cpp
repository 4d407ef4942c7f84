// Writers at the same moment, as two configuration-management runs or an
// administrator beside a script make them: each change survives the other.
#include "run.h"

#include "llc2_conf.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <future>

namespace
{

using conftool::run;
using llc2test::conf_text;
using llc2test::SimRoot;

// Rounds of each race; the lost change showed up in most rounds before the
// lock, so these many leave it no hiding place.
constexpr int rounds = 60;

std::string conf_path(const SimRoot &r)
{
    return r.path("etc/llc2/default/llc2.0");
}

// The values llc2 reads from PPA 0's file, or nothing when there is none.
std::optional<std::array<int, CONF_NPARAMS>> values_of(const SimRoot &r)
{
    std::FILE *fp = std::fopen(conf_path(r).c_str(), "r");
    if (fp == nullptr)
        return std::nullopt;
    std::array<char, LLC2_DEVNAME_SIZE> device{};
    int instance = 0;
    std::array<int, CONF_NPARAMS> params{};
    EXPECT_EQ(read_conf_file(fp, device.data(), &instance, params.data()), 0);
    std::fclose(fp);
    return params;
}

TEST(Lock, TwoWritersAtOnceLoseNothing)
{
    const auto faults = [] {
        return testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    };
    // A set of one keyword beside a set of another, or beside a delete.
    for (const bool beside_delete : {false, true}) {
        SCOPED_TRACE(beside_delete ? "set beside delete" : "set beside set");
        SimRoot r;
        r.write_file("dev/xnic", "");
        // One lost change is enough to tell; the rest would say it again.
        const int before = faults();
        for (int v = 1; v <= rounds && faults() == before; ++v) {
            SCOPED_TRACE(v);
            if (!std::filesystem::exists(conf_path(r))) {
                ASSERT_EQ(run(r, {"create", "0", "xnic0"}).status, 0);
            }
            const std::string value = std::to_string(v);
            auto first = std::async(std::launch::async, [&] {
                return run(r, {"set", "0", "acktimer=" + value});
            });
            const llc2test::Run second =
                run(r, beside_delete ? std::vector<std::string>{"delete", "0"}
                                     : std::vector<std::string>{"set", "0", "maxretry=" + value});
            const llc2test::Run one = first.get();
            const auto params = values_of(r);
            if (beside_delete) {
                // Whichever went first, deleted means gone.
                EXPECT_EQ(second.out, "PPA 0: deleted\n");
                EXPECT_FALSE(params) << "after " << one.out << one.err;
            } else {
                EXPECT_EQ(one.out + second.out, "PPA 0: replaced\nPPA 0: replaced\n");
                ASSERT_TRUE(params);
                EXPECT_EQ(params->at(CONF_ACKTIMER), v);
                EXPECT_EQ(params->at(CONF_MAXRETRY), v);
            }
        }
        EXPECT_TRUE(conftool::leftovers(r).empty());
    }
}

TEST(Lock, ItsFileStaysAndADryRunTakesNoLock)
{
    SimRoot r;
    r.write_file("dev/xnic", "");
    const std::string lock = r.path("etc/llc2/default/.llc2conf.lock");
    // Whatever the umask of the writer, anybody may look at the lock.
    const mode_t mask = umask(077);
    const llc2test::Run created = run(r, {"create", "0", "xnic0"});
    umask(mask);
    ASSERT_EQ(created.status, 0);
    struct stat st {
    };
    ASSERT_EQ(lstat(lock.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0644U);

    // Held by someone else: dry runs look, and never wait for it.
    const int held = conftool::hold_lock(r);
    ASSERT_GE(held, 0);
    const std::vector<std::string> dry_runs[] = {
        {"create", "-n", "-f", "0", "xnic1"},
        {"set", "-n", "0", "acktimer=4"},
        {"delete", "--dry-run", "0"},
    };
    for (const auto &args : dry_runs) {
        SCOPED_TRACE(args[0]);
        const llc2test::Run shown = run(r, args);
        EXPECT_EQ(shown.status, 0) << shown.err;
        EXPECT_EQ(shown.err, "");
    }
    close(held);

    ASSERT_EQ(run(r, {"delete", "0"}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(lock)) << "never removed";
    EXPECT_EQ(run(r, {"check"}).err, "") << "nothing left over, nothing to configure";
}

} // namespace
