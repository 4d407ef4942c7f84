// SPDX-License-Identifier: Apache-2.0
// Every word llc2 --status and llc2 --apply print for a PPA after
// "PPA <n>: ", in one place. Programs read them: the monitoring plugin judges
// a PPA by its --status words, the Ansible collection reads --apply's. A
// word added or changed here without them fails the suite, which runs every
// one of these through both.
#ifndef LLC2_CMD_STATUS_WORDS_H
#define LLC2_CMD_STATUS_WORDS_H

#include <array>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>

// What a program reading --status makes of a line.
enum class verdict {
    as_configured,     // OK
    unproven,          // WARNING: up, but not what the file says, or not known to be
    cannot_tell,       // UNKNOWN
    not_as_configured, // CRITICAL
};

// A --status form: the words after "PPA <n>: ". "%s" stands for the state
// word ("up", "down", "off", "bad" or "not plumbed") where it comes first,
// and otherwise for a reason or a keyword list; "%d" for a number.
struct status_form {
    std::string_view form;
    verdict meaning;
};

inline constexpr status_form ST_UP{"up", verdict::as_configured};
inline constexpr status_form ST_SWITCHED_OFF{"switched off", verdict::as_configured};
inline constexpr status_form ST_NOT_RECORDED{"up, not recorded", verdict::unproven};
inline constexpr status_form ST_LINK_NOT_KNOWN{"up, link not known", verdict::unproven};
inline constexpr status_form ST_CHANGED{"up, changed since applied (%s)", verdict::unproven};
inline constexpr status_form ST_CANNOT_TELL{"cannot tell (%s)", verdict::cannot_tell};
inline constexpr status_form ST_NOT_CONFIGURED{"not configured", verdict::not_as_configured};
inline constexpr status_form ST_HELD_NO_FILE{"%s (plumbed but not configured)",
                                             verdict::not_as_configured};
inline constexpr status_form ST_UNUSABLE{"%s (configuration unusable: %s)",
                                         verdict::not_as_configured};
inline constexpr status_form ST_HELD_OFF{"%s (plumbed but switched off, llc2_on=0)",
                                         verdict::not_as_configured};
inline constexpr status_form ST_NOT_UP{"%s (configured, llc2_on=%d)", verdict::not_as_configured};

inline constexpr std::array<status_form, 11> STATUS_FORMS{
    ST_UP,       ST_SWITCHED_OFF, ST_NOT_RECORDED,   ST_LINK_NOT_KNOWN,
    ST_CHANGED,  ST_CANNOT_TELL,  ST_NOT_CONFIGURED, ST_HELD_NO_FILE,
    ST_UNUSABLE, ST_HELD_OFF,     ST_NOT_UP,
};

// A whole line of --status, not about one PPA: the numbers of the scan the
// driver was not asked about once it stopped answering.
inline constexpr status_form LINE_UNASKED{"PPAs %d to %d: cannot tell (%s)", verdict::cannot_tell};

// The lines of a link that llc2 made and no PPA holds, "Link <id>: <words>":
// what --status says of one (a reason for WARNING: nothing is wrong with a
// PPA, but a lower stream is held for nothing), what --apply, -P and -U
// say when they unlink one, and what a dry run of --apply says it would.
inline constexpr status_form LINK_LEFT{"left linked by an interrupted run", verdict::unproven};
inline constexpr std::string_view LINK_UNLINKED = "unlinked (left by an interrupted run)";
inline constexpr std::string_view LINK_WOULD_UNLINK = "would unlink (left by an interrupted run)";

// The whole line --status prints when an interrupted run left the intent
// of a link and not its identifier: a lower stream may be held under no
// PPA, and nothing but I_PUNLINK of MUXID_ALL can name it (WARNING, as a
// link left).
inline constexpr status_form LINE_UNKNOWN_LINKS{
    "Links made by an interrupted run may be held (identifier not known); llc2 -U removes them",
    verdict::unproven};

// --apply's words for each kind of job, in the order of its steps: what a
// dry run would do ("PPA 2: would re-initialise (acktimer)") and what was
// done ("PPA 2: re-initialised").
inline constexpr std::array<std::string_view, 5> APPLY_WOULD{
    "take down", "re-plumb and initialise", "plumb and initialise", "re-initialise", "initialise"};
inline constexpr std::array<std::string_view, 5> APPLY_DONE{
    "taken down", "re-plumbed and initialised", "plumbed and initialised", "re-initialised",
    "initialised"};

// form with each "%s" and "%d" replaced by the next of args, in order.
template <typename Args> std::string fill_from(std::string_view form, const Args &args)
{
    std::string out;
    auto arg = std::begin(args);
    for (std::size_t i = 0; i < form.size(); ++i) {
        if (form[i] == '%' && i + 1 < form.size() && (form[i + 1] == 's' || form[i + 1] == 'd') &&
            arg != std::end(args)) {
            out += *arg++;
            ++i;
        } else {
            out += form[i];
        }
    }
    return out;
}

inline std::string fill(std::string_view form, std::initializer_list<std::string_view> args)
{
    return fill_from(form, args);
}

#endif
