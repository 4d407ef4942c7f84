#!/usr/bin/python
# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)
# SPDX-License-Identifier: GPL-3.0-or-later

# The driver brought to the configuration files by llc2 --apply.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: apply
short_description: Bring the LLC2 driver to its configuration
description:
  - Runs C(llc2 --apply). Each switched-on PPA the driver lacks is plumbed
    and initialised, one that is held but not up is initialised, one whose
    parameters changed since they were applied is re-initialised on its
    link, one whose link changed is plumbed anew; a PPA that is up with
    nothing pending gets no request.
  - First, links an interrupted run of llc2 left linked under no PPA are
    unlinked; that is a change too.
version_added: "0.1.0"
author: llc2 developers (@llc2)
extends_documentation_fragment:
  - llc2.llc2.attributes
  - llc2.llc2.programs.llc2
  - llc2.llc2.programs.config_dir
attributes:
  check_mode:
    support: full
    details:
      - C(llc2 --apply -n), which sends the driver nothing but probes.
      - It reads the configuration files as they are in the directory, so
        alone in a C(--check) run it cannot foresee what earlier tasks would
        have written there; the C(llc2.llc2.ppas) role stages them in a copy
        (I(config_dir)) to foresee it.
  diff_mode:
    support: none
options:
  ppas:
    description: Only these PPAs, each 0 to 255 (another fails); by default every one.
    type: list
    elements: int
    default: []
  prune:
    description: Also take down what the driver holds and the configuration does not switch on.
    type: bool
    default: false
notes:
  - Runs that change the driver take turns. Outside check mode llc2 holds a
    lock on C(.lock) in its run-state directory while it acts; one that
    cannot get it within 30 seconds sends the driver nothing, and the task
    fails with llc2's message naming the process that holds it.
  - What llc2 writes to standard error on success is passed on as warnings.
"""

EXAMPLES = r"""
- name: Bring every configured PPA up, and take down what is not configured
  llc2.llc2.apply:
    prune: true

- name: Only PPAs 1 and 2
  llc2.llc2.apply:
    ppas: [1, 2]
"""

RETURN = r"""
actions:
  description:
    - One item a PPA acted on, as C(llc2 --apply --json) gives it.
    - C(action) is one of C(plumbed and initialised), C(initialised),
      C(re-initialised), C(re-plumbed and initialised), C(taken down); in
      check mode C(would) and the verb, such as
      C(would plumb and initialise) or C(would re-initialise).
    - C(keywords) are the pending keywords that made llc2 act, or empty; the
      same in check mode and in the real run.
  returned: always, also on failure
  type: list
  elements: dict
  sample: [{ppa: 2, action: re-initialised, keywords: [acktimer]}]
failed_ppas:
  description:
    - One item a PPA llc2 left not as it should be, C(ppa) and C(reason) in
      llc2's words (C(ppa) null for a failure that is no PPA's), as the
      C(failed) array of C(llc2 --apply --json).
  returned: always, also on failure
  type: list
  elements: dict
  sample: [{ppa: 3, reason: not up}]
unlinked:
  description:
    - The identifiers of the links an interrupted run of llc2 left under no
      PPA that llc2 unlinked, or in check mode would unlink, as the
      C(unlinked) array of C(llc2 --apply --json). Any makes the task
      changed.
  returned: always, also on failure
  type: list
  elements: int
  sample: [7]
  version_added: "2.0.0"
unasked:
  description:
    - The PPA numbers the driver was not asked about once it stopped
      answering, C(from), C(to) and C(reason), as the C(unasked) key of
      C(llc2 --apply --json); null when every number was asked.
  returned: always, also on failure
  type: dict
  sample: {from: 3, to: 63, reason: the driver does not answer}
  version_added: "2.0.0"
msg:
  description: llc2's standard error, when it failed.
  returned: failure
  type: str
stdout:
  description: What llc2 wrote on standard output, whole.
  returned: failure, when llc2 ran
  type: str
  version_added: "2.0.0"
stderr:
  description: What llc2 wrote on standard error, whole.
  returned: failure, when llc2 ran
  type: str
  version_added: "2.0.0"
"""

import json

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.llc2.llc2.plugins.module_utils.llc2 import (
    check_ppas,
    config_dir_args,
    fail_run,
    program,
    run,
    warn_lines,
)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            ppas=dict(type="list", elements="int", default=[]),
            prune=dict(type="bool", default=False),
            llc2_path=dict(type="path"),
            config_dir=dict(type="path"),
        ),
        supports_check_mode=True,
    )
    p = module.params
    check_ppas(module, p["ppas"])
    argv = [program(module, "llc2", "llc2_path")] + config_dir_args(module) + ["--apply", "--json"]
    if module.check_mode:
        argv.append("-n")
    if p["prune"]:
        argv.append("--prune")
    argv += [str(n) for n in p["ppas"]]

    rc, out, err = run(module, argv)
    try:
        doc = json.loads(out)
        result = dict(
            actions=doc["actions"],
            failed_ppas=doc["failed"],
            unlinked=doc["unlinked"],
            unasked=doc["unasked"],
        )
    except (ValueError, KeyError, TypeError):
        # A command line llc2 refused, or a run cut short: no document.
        doc, result = None, dict(actions=[], failed_ppas=[], unlinked=[], unasked=None)
    # A PPA acted on, or a link unlinked, is changed even when a later step
    # failed.
    changed = bool(result["actions"] or result["unlinked"])
    if rc != 0 or doc is None:
        fail_run(module, err.strip() or "llc2: exit status %d" % rc, rc, out, err, changed=changed, **result)
    warn_lines(module, err)
    module.exit_json(changed=changed, **result)


if __name__ == "__main__":
    main()
