# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)
# SPDX-License-Identifier: GPL-3.0-or-later

# The documentation the modules share: where they find llc2 and llc2conf,
# and how an emulated build's root reaches them.

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    # The option naming llc2.
    LLC2 = r"""
options:
  llc2_path:
    description:
      - The llc2 program.
      - By default the first on C(PATH), then the one in the sbin directory
        of the installation this collection came with.
    type: path
requirements:
  - The C(llc2) program on the managed host.
notes:
  - In an emulated build, C(LLC2_ROOT) reaches llc2 through the task's
    C(environment), as for any command.
"""

    # The option naming the configuration directory, for llc2 and llc2conf.
    CONFIG_DIR = r"""
options:
  config_dir:
    description:
      - The configuration directory, in place of the programs' own
        (C(/etc/llc2/default)), given to them as C(-D); taken as it stands,
        never under C(LLC2_ROOT).
      - For staging a configuration before it is installed, as the
        C(llc2.llc2.ppas) role does in check mode.
    type: path
"""

    # The option naming llc2conf.
    LLC2CONF = r"""
options:
  llc2conf_path:
    description:
      - The llc2conf program.
      - By default the first on C(PATH), then the one in the sbin directory
        of the installation this collection came with.
    type: path
requirements:
  - The C(llc2conf) program on the managed host.
notes:
  - In an emulated build, C(LLC2_ROOT) reaches llc2conf through the task's
    C(environment), as for any command.
"""
