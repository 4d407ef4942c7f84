# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)
# SPDX-License-Identifier: GPL-3.0-or-later

# The attributes every module has: what each means, and the hosts they run
# on. Each module says how far it supports check and diff mode.

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r"""
attributes:
  check_mode:
    description: Can run in check mode and return the changed status it predicts without changing the host.
  diff_mode:
    description: Returns details of what changed (or would change in check mode) when in diff mode.
  platform:
    description: The hosts the module can run on.
    support: full
    platforms: posix
    details:
      - Any POSIX host with C(llc2) and C(llc2conf) installed, driving the
        LLC2 driver natively where the host has STREAMS and through the
        emulator C(llc2sim) elsewhere.
"""

    # The modules that only ask.
    INFO = r"""
attributes:
  check_mode:
    support: full
    details: The module changes nothing, and runs in check mode as in a real run.
  diff_mode:
    support: N/A
    details: The module changes nothing.
"""
