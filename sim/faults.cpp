// SPDX-License-Identifier: Apache-2.0
// The one path by which a scenario's fault reaches any kind of request.
#include "parts.h"

namespace
{

// The first fault that fires for this request. Every fault counts the
// requests it matches on its own, so "skip" and "count" of one fault do not
// depend on the others. nullptr: none fires, the request goes through.
const fault *match_fault(sim_state &st, req_kind kind, std::optional<int> ppa,
                         const std::string &device)
{
    const fault *hit = nullptr;
    for (fault &f : st.faults) {
        if (f.request != kind || (f.device && *f.device != device))
            continue;
        if (f.ppa && (!ppa || *f.ppa != *ppa))
            continue;
        ++f.seen;
        if (hit != nullptr || f.seen <= f.skip || (f.count >= 0 && f.fired >= f.count))
            continue;
        ++f.fired;
        hit = &f;
    }
    return hit;
}

} // namespace

verdict judge(sim_state &st, req_kind kind, std::optional<int> ppa, const std::string &device,
              line_t &l)
{
    verdict v;
    v.f = match_fault(st, kind, ppa, device);
    if (v.f == nullptr)
        return v;
    l["fault"] = fault_action_name(v.f->action);
    switch (v.f->action) {
    case fault_action::refuse:
        v.err = v.f->err;
        v.apply = false;
        break;
    case fault_action::noreply:
        v.apply = false;
        v.answer = false;
        break;
    case fault_action::delay:
        v.delay_ms = v.f->delay_ms;
        break;
    // The driver refused the primitive: its state stays as it was.
    case fault_action::error_ack:
    case fault_action::wrong_primitive:
        v.apply = false;
        break;
    default:
        break;
    }
    return v;
}

void conclude(sim_state &st, int stream, line_t &l, const verdict &v, int ret, int err, bytes frame)
{
    l["result"] = v.answer ? result_name(ret, err) : "noreply";
    if (v.answer && v.delay_ms > 0)
        l["delay_ms"] = v.delay_ms;
    emit(st, l);
    if (v.answer)
        send_frame(st, stream, std::move(frame), v.delay_ms);
}
