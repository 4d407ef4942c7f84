// SPDX-License-Identifier: Apache-2.0
// read_conf_file against reading the same file with fgets alone, on a
// typical file and on 1 MiB of comments and ignored lines. The goal: the
// parse costs at most twice the plain read. Run it on an optimised build.
#include "llc2_conf.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{

const char *const keys = "devicename=xnic\n"
                         "deviceinstance=0\n"
                         "llc2_on=1\t# LLC2: On/Off on this device\n"
                         "deviceloopback=0\n"
                         "timeinterval=0\t# LLC2: Timer Multiplier\n"
                         "acktimer=2\t# LLC2: Ack Timer\n"
                         "rsptimer=2\t# LLC2: Response Timer\n"
                         "polltimer=4\t# LLC2: Poll Timer\n"
                         "rejecttimer=6\t# LLC2: Reject Timer\n"
                         "rembusytimer=8\t# LLC2: Remote Busy Timer\n"
                         "inacttimer=30\t# LLC2: Inactivity Timer\n"
                         "maxretry=6\t# LLC2: Maximum Retry Value\n"
                         "xmitwindowsz=14\t# LLC2: Transmit Window Size\n"
                         "rcvwindowsz=14\t# LLC2: Receive Window Size\n";

std::string typical_text()
{
    return std::string("#\n# Generated.\n# Lines starting with # are comments.\n#\n\n"
                       "# llc2 - Class II Logical Link Control Driver configuration file\n"
                       "# Built: Thu Jan  1 00:00:00 1970\n\n\n") +
           keys;
}

// Comments, blank lines and lines that look like keywords without being
// any, then the keywords, so the whole file is read and the parse succeeds.
std::string big_text()
{
    const char *const filler[] = {
        "# A comment line of ordinary length, as administrators write them.\n",
        "\n",
        "    # an indented comment\n",
        "device=eth0 is not a keyword\n",
        "ACKTIMER=5 differs in case\n",
        "# acktimer=5 commented out\n",
        "\t \n",
        "xmit=3 starts like one\n",
        "some other text that is ignored without a message\n",
    };
    std::string text;
    for (std::size_t i = 0; text.size() < (1u << 20); ++i)
        text += filler[i % std::size(filler)];
    return text + keys;
}

struct temp_file {
    std::string path;
    std::FILE *fp = nullptr;
    explicit temp_file(const std::string &text)
    {
        char tmpl[] = "/tmp/llc2bench.XXXXXX";
        const int fd = mkstemp(tmpl);
        if (fd < 0)
            std::abort();
        path = tmpl;
        fp = fdopen(fd, "w+");
        if (fp == nullptr || std::fwrite(text.data(), 1, text.size(), fp) != text.size() ||
            std::fflush(fp) != 0)
            std::abort();
    }
    ~temp_file()
    {
        std::fclose(fp);
        unlink(path.c_str());
    }
    temp_file(const temp_file &) = delete;
    temp_file &operator=(const temp_file &) = delete;
};

temp_file &typical_file()
{
    static temp_file file(typical_text());
    return file;
}

temp_file &big_file()
{
    static temp_file file(big_text());
    return file;
}

void parse(benchmark::State &state, temp_file &file)
{
    std::array<char, LLC2_DEVNAME_SIZE> name{};
    std::array<int, CONF_NPARAMS> params{};
    int instance = 0;
    long bytes = 0;
    for (auto _ : state) {
        (void)_;
        if (read_conf_file(file.fp, name.data(), &instance, params.data()) != 0) {
            state.SkipWithError("the file did not parse");
            break;
        }
        bytes = std::ftell(file.fp);
        benchmark::DoNotOptimize(params.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes);
}

// The same reading with nothing done to the lines: the floor.
void fgets_only(benchmark::State &state, temp_file &file)
{
    std::array<char, 2048> line{};
    long bytes = 0;
    for (auto _ : state) {
        (void)_;
        std::fseek(file.fp, 0, SEEK_SET);
        while (std::fgets(line.data(), static_cast<int>(line.size()), file.fp) != nullptr)
            benchmark::DoNotOptimize(line.data());
        bytes = std::ftell(file.fp);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes);
}

void BM_parse_typical(benchmark::State &state)
{
    parse(state, typical_file());
}
void BM_fgets_typical(benchmark::State &state)
{
    fgets_only(state, typical_file());
}
void BM_parse_1MiB(benchmark::State &state)
{
    parse(state, big_file());
}
void BM_fgets_1MiB(benchmark::State &state)
{
    fgets_only(state, big_file());
}

} // namespace

BENCHMARK(BM_parse_typical);
BENCHMARK(BM_fgets_typical);
BENCHMARK(BM_parse_1MiB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_fgets_1MiB)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
