#!/usr/bin/python
# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)
# SPDX-License-Identifier: GPL-3.0-or-later

# The configured PPAs as llc2conf list --json lists them, without the driver.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: conf_info
short_description: The configured LLC2 PPAs, without the driver
description:
  - Runs C(llc2conf list --json) and returns its document's PPAs, every PPA
    that has a configuration file, in ascending order, read as C(llc2 -P)
    reads the directory. The driver is not opened.
  - Changes nothing; runs in check mode too.
version_added: "0.1.0"
author: llc2 developers (@llc2)
extends_documentation_fragment:
  - llc2.llc2.attributes
  - llc2.llc2.attributes.info
  - llc2.llc2.programs.llc2conf
  - llc2.llc2.programs.config_dir
"""

EXAMPLES = r"""
- name: The configured PPAs
  llc2.llc2.conf_info:
  register: conf

- name: Remove the files of every PPA but 0 and 1
  llc2.llc2.ppa:
    ppa: "{{ item }}"
    state: absent
  loop: "{{ conf.ppas | map(attribute='ppa') | difference([0, 1]) }}"
"""

RETURN = r"""
ppas:
  description:
    - The C(ppas) list of C(llc2conf list --json), unchanged. Each has
      C(ppa), C(device), C(instance), C(llc2_on) and C(error); a file that
      cannot be used has C(error) set and the other three null.
  returned: success
  type: list
  elements: dict
  sample: [{ppa: 0, device: xnic, instance: 0, llc2_on: 1, error: null}]
directory:
  description:
    - The configuration directory llc2conf read, as the path was used, with
      a C(/) at its end (under C(LLC2_ROOT) in an emulated build).
  returned: success
  type: str
  sample: /etc/llc2/default/
  version_added: "1.0.0"
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
    config_dir_args,
    ppas_document,
    program,
)


def main():
    module = AnsibleModule(
        argument_spec=dict(llc2conf_path=dict(type="path"), config_dir=dict(type="path")),
        supports_check_mode=True,
    )
    argv = [program(module, "llc2conf", "llc2conf_path")] + config_dir_args(module) + ["list", "--json"]
    doc = ppas_document(module, argv)
    module.exit_json(changed=False, ppas=doc["ppas"], directory=doc.get("directory"))


if __name__ == "__main__":
    main()
