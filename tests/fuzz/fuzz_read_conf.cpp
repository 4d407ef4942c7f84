// SPDX-License-Identifier: Apache-2.0
// libFuzzer target for read_conf_file: any bytes, parsed twice from the same
// stream. Besides what the sanitizers catch, a parse must agree with itself
// and a successful one must hand back sane values.
#include "llc2_conf.h"
#include "llc2_debug.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace
{

struct outcome {
    int rc = 0;
    // Exactly the sizes callers give, on the heap, so any write past them is
    // caught.
    std::unique_ptr<char[]> name = std::make_unique<char[]>(LLC2_DEVNAME_SIZE);
    std::unique_ptr<int[]> params = std::make_unique<int[]>(CONF_NPARAMS);
    int instance = 0;
};

void parse(std::FILE *fp, outcome &out)
{
    out.rc = read_conf_file(fp, out.name.get(), &out.instance, out.params.get());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<char> bytes(data, data + size);
    std::FILE *fp = fmemopen(bytes.data(), bytes.size(), "r");
    if (fp == nullptr)
        return 0;
    // Both the quiet and the debug paths.
    debug = static_cast<int>(size & 1);

    outcome first;
    outcome second;
    parse(fp, first);
    parse(fp, second);
    std::fclose(fp);

    if (first.rc != 0 && first.rc != -1)
        __builtin_trap();
    if (second.rc != first.rc)
        __builtin_trap();
    if (first.rc == 0) {
        if (std::memchr(first.name.get(), '\0', LLC2_DEVNAME_SIZE) == nullptr)
            __builtin_trap();
        if (std::strcmp(first.name.get(), second.name.get()) != 0 ||
            first.instance != second.instance || first.instance < 0)
            __builtin_trap();
        for (int i = 0; i < CONF_NPARAMS; ++i) {
            if (first.params[i] < 0 || first.params[i] != second.params[i])
                __builtin_trap();
        }
    }
    return 0;
}
