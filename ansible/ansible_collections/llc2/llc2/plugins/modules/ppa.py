#!/usr/bin/python
# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)
# SPDX-License-Identifier: GPL-3.0-or-later

# One PPA's configuration file, written and removed by llc2conf.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: ppa
short_description: One PPA's LLC2 configuration file
description:
  - Writes the configuration file of one PPA with C(llc2conf create -f), or
    removes it with C(llc2conf delete).
  - llc2conf decides everything, the file's form, whether it changes, and
    what is refused. A file that already holds what is asked for is left
    untouched, its inode and times included.
  - The driver is not touched; M(llc2.llc2.apply) brings it to the files.
version_added: "0.1.0"
author: llc2 developers (@llc2)
extends_documentation_fragment:
  - llc2.llc2.attributes
  - llc2.llc2.programs.llc2conf
  - llc2.llc2.programs.config_dir
attributes:
  check_mode:
    support: full
    details: llc2conf's dry run, which reads the file and writes nothing.
  diff_mode:
    support: full
    details: The dry run's unified diff of the file.
options:
  ppa:
    description: The PPA number, 0 to 255; another fails.
    type: int
    required: true
  state:
    description: Whether the PPA's file should exist.
    type: str
    choices: [present, absent]
    default: present
  link:
    description:
      - The network interface's link name, its driver name followed by its
        instance, such as C(xnic0).
      - Required when I(state=present).
    type: str
  settings:
    description:
      - Keyword to number, the numeric keywords of llc2conf(8). A keyword not
        given is written as C(llc2conf create) writes it.
      - C(llc2_on) is not a setting but I(enabled); naming it here fails.
    type: dict
    default: {}
  enabled:
    description: Whether C(llc2 -P) and C(llc2 --apply) bring the PPA up (C(llc2_on)).
    type: bool
    default: true
notes:
  - In diff mode outside check mode, a dry run for the diff comes before the
    real run.
  - Writers of the configuration directory take turns. Outside check mode
    llc2conf holds a lock on C(.llc2conf.lock) in the directory while it
    writes; one that cannot get it within 10 seconds changes nothing, and
    the task fails with llc2conf's message naming the process that holds it.
"""

EXAMPLES = r"""
- name: PPA 2 on xnic1 with a longer acknowledgement timer
  llc2.llc2.ppa:
    ppa: 2
    link: xnic1
    settings:
      acktimer: 5

- name: PPA 3 configured but left down at start-up
  llc2.llc2.ppa:
    ppa: 3
    link: xnic2
    enabled: false

- name: No PPA 7
  llc2.llc2.ppa:
    ppa: 7
    state: absent
"""

RETURN = r"""
result:
  description:
    - llc2conf's status word. C(created), C(replaced) and C(deleted) are
      changes; C(unchanged) and C(absent) are not. In check mode, what the
      real run would say.
  returned: success
  type: str
  sample: replaced
diff:
  description: The dry run's unified diff of the file, as C(prepared).
  returned: in diff mode, when the file changes
  type: dict
  sample: {prepared: "--- /etc/llc2/default/llc2.2\n+++ /etc/llc2/default/llc2.2\n..."}
stdout:
  description: What llc2conf wrote on standard output, whole.
  returned: failure, when llc2conf ran
  type: str
  version_added: "2.0.0"
stderr:
  description: What llc2conf wrote on standard error, whole.
  returned: failure, when llc2conf ran
  type: str
  version_added: "2.0.0"
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.llc2.llc2.plugins.module_utils.llc2 import (
    check_ppas,
    config_dir_args,
    fail_run,
    last_status,
    program,
    run,
    warn_lines,
)

CHANGES = ("created", "replaced", "deleted")


def llc2conf_run(module, argv):
    """Runs llc2conf; returns (what precedes the status line, status word,
    stderr), failing the module when llc2conf fails or says no status."""
    rc, out, err = run(module, argv)
    head, word = last_status(out)
    if rc != 0 or word is None:
        fail_run(module, err.strip() or out.strip() or "llc2conf: exit status %d" % rc, rc, out, err)
    return head, word, err


def main():
    module = AnsibleModule(
        argument_spec=dict(
            ppa=dict(type="int", required=True),
            state=dict(type="str", choices=["present", "absent"], default="present"),
            link=dict(type="str"),
            settings=dict(type="dict", default={}),
            enabled=dict(type="bool", default=True),
            llc2conf_path=dict(type="path"),
            config_dir=dict(type="path"),
        ),
        required_if=[("state", "present", ["link"])],
        supports_check_mode=True,
    )
    p = module.params
    check_ppas(module, [p["ppa"]])
    if "llc2_on" in p["settings"]:
        module.fail_json(msg="llc2_on is not a setting: use enabled")

    llc2conf = program(module, "llc2conf", "llc2conf_path")
    if p["state"] == "present":
        settings = ["%s=%s" % (k, v) for k, v in p["settings"].items()]
        settings.append("llc2_on=%d" % (1 if p["enabled"] else 0))
        command, operands = ["create", "-f"], [p["link"]] + settings
    else:
        command, operands = ["delete"], []

    def argv(*opts):
        # "--": a negative PPA is an operand, not an option.
        return (
            [llc2conf] + config_dir_args(module) + command + list(opts) + ["--", str(p["ppa"])] + operands
        )

    result = {}
    if module.check_mode or module._diff:
        diff, word, err = llc2conf_run(module, argv("-n"))
        if module._diff and diff:
            result["diff"] = {"prepared": diff}
    if not module.check_mode:
        word, err = llc2conf_run(module, argv())[1:]
    warn_lines(module, err)
    module.exit_json(changed=word in CHANGES, result=word, **result)


if __name__ == "__main__":
    main()
