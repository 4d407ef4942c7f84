#!/usr/bin/python
# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)
# SPDX-License-Identifier: GPL-3.0-or-later

# What llc2 --json says of the PPAs: the driver and the files compared.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: ppa_info
short_description: The LLC2 PPAs as the driver holds them and as configured
description:
  - Runs C(llc2 --json) and returns its document's PPAs, each held by the
    driver or configured, with the keys C(llc2 --json) gives
    (see the llc2(8) manual page).
  - Changes nothing; runs in check mode too.
  - Fails with llc2's message when llc2 fails, such as when the driver is
    absent.
version_added: "1.0.0"
author: llc2 developers (@llc2)
extends_documentation_fragment:
  - llc2.llc2.attributes
  - llc2.llc2.attributes.info
  - llc2.llc2.programs.llc2
  - llc2.llc2.programs.config_dir
"""

EXAMPLES = r"""
- name: Ask the driver
  llc2.llc2.ppa_info:
  register: llc2

- name: Every PPA as configured
  ansible.builtin.assert:
    that: llc2.as_configured
    fail_msg: >-
      not as configured: PPA
      {{ llc2.ppas | rejectattr('as_configured') | map(attribute='ppa') | join(', ') }}
"""

RETURN = r"""
ppas:
  description: The C(ppas) list of C(llc2 --json), unchanged.
  returned: success
  type: list
  elements: dict
  sample:
    - {ppa: 1, state: up, configured: true, llc2_on: 1, device: xnic, instance: 1,
       as_configured: true}
as_configured:
  description:
    - True when every PPA listed is as configured (also when none is
      listed); a PPA whose C(as_configured) is null, which llc2 cannot
      tell, counts as not.
  returned: success
  type: bool
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

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.llc2.llc2.plugins.module_utils.llc2 import (
    config_dir_args,
    ppas_document,
    program,
)


def main():
    module = AnsibleModule(
        argument_spec=dict(llc2_path=dict(type="path"), config_dir=dict(type="path")),
        supports_check_mode=True,
    )
    argv = [program(module, "llc2", "llc2_path")] + config_dir_args(module) + ["--json"]
    ppas = ppas_document(module, argv)["ppas"]
    module.exit_json(
        changed=False, ppas=ppas, as_configured=all(p.get("as_configured") is True for p in ppas)
    )


if __name__ == "__main__":
    main()
