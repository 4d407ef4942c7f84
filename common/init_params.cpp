// SPDX-License-Identifier: Apache-2.0
#include "init_params.h"

std::uint16_t init_param_value(const init_param &param, int configured)
{
    // The field is 16 bits wide: the driver gets what fits, and the default
    // stands in for a cut value of 0, not only for a configured 0.
    const auto cut = static_cast<std::uint16_t>(static_cast<unsigned int>(configured) & 0xffffU);
    return cut != 0 ? cut : param.default_value;
}

ctl_init make_ctl_init(int ppa, const int *conf_params)
{
    ctl_init init{};
    init.ppa = ppa;
    init.msg_type = LLC2_CTL_INIT;
    for (const init_param &param : INIT_PARAMS)
        init.*param.field = init_param_value(param, conf_params[param.conf_index]);
    return init;
}
