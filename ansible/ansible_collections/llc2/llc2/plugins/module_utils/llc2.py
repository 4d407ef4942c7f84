# -*- coding: utf-8 -*-
# Copyright (c) llc2 developers
# Simplified BSD License (see LICENSES/BSD-2-Clause.txt or https://opensource.org/licenses/BSD-2-Clause)
# SPDX-License-Identifier: BSD-2-Clause

# What the llc2.llc2 modules share: finding and running llc2 and llc2conf,
# and reading their status lines. The programs decide everything; this only
# reads what they print.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import re

# Where llc2 and llc2conf are installed; cmake --install writes this line.
SBINDIR = "/usr/local/sbin"

# "PPA 2: would re-initialise (acktimer, maxretry)": number, words, and the
# keywords in parentheses when there are any.
_STATUS_LINE = re.compile(r"^PPA (-?[0-9]+): (.*?)(?: \(([^()]*)\))?$")


def program(module, name, option):
    """The path of llc2 or llc2conf: the option's when given, else the first
    on PATH, else the one in SBINDIR. Fails the module when there is none."""
    given = module.params.get(option)
    if given:
        # Said once, naming what to mend, rather than as the errno of a run.
        if not (os.path.isfile(given) and os.access(given, os.X_OK)):
            module.fail_json(msg="%s names no %s program: %s" % (option, name, given))
        return given
    # get_bin_path looks in opt_dirs before PATH: PATH goes first here so
    # that it wins over the install's own directory.
    dirs = os.environ.get("PATH", "").split(os.pathsep) + [SBINDIR]
    found = module.get_bin_path(name, opt_dirs=dirs)
    if not found:
        module.fail_json(msg="%s is neither on PATH nor in %s; give %s" % (name, SBINDIR, option))
    return found


# The driver's PPA numbers. llc2conf delete and llc2 --apply take any number
# and find nothing to do outside them, which a playbook would read as done.
PPA_MAX = 255


def config_dir_args(module):
    """-D and the config_dir option's directory, when it is given."""
    given = module.params.get("config_dir")
    return ["-D", given] if given else []


def check_ppas(module, ppas):
    """Fails the module, naming every one, when a PPA is outside 0 to PPA_MAX."""
    bad = [str(n) for n in ppas if not 0 <= n <= PPA_MAX]
    if bad:
        module.fail_json(msg="Not a PPA number, 0 to %d: %s" % (PPA_MAX, ", ".join(bad)))


def run(module, argv):
    """Runs argv in the C locale, so that the status lines read as documented.
    Returns (rc, stdout, stderr)."""
    return module.run_command(argv, environ_update={"LC_ALL": "C"})


def fail_run(module, msg, rc, out, err, **result):
    """Fails the module after a program ran, with its whole output as
    ansible.builtin.command gives it."""
    module.fail_json(msg=msg, rc=rc, stdout=out, stderr=err, **result)


def ppas_document(module, argv):
    """Runs a program that writes a JSON document {"ppas": [...], ...} and
    returns the document, passing on its warnings; fails the module with the
    program's message when it fails."""
    rc, out, err = run(module, argv)
    if rc != 0:
        fail_run(module, err.strip() or "%s: exit status %d" % (argv[0], rc), rc, out, err)
    try:
        doc = json.loads(out)
        if not isinstance(doc["ppas"], list):
            raise TypeError("ppas is no list")
    except (ValueError, KeyError, TypeError) as e:
        fail_run(module, "%s: not a document with ppas: %s" % (" ".join(argv), e), rc, out, err)
    warn_lines(module, err)
    return doc


def status_lines(text):
    """The status lines of text as dicts {ppa, words, keywords}, in order;
    other lines are passed over."""
    found = []
    for line in text.splitlines():
        m = _STATUS_LINE.match(line)
        if m:
            keywords = m.group(3).split(", ") if m.group(3) else []
            found.append({"ppa": int(m.group(1)), "words": m.group(2), "keywords": keywords})
    return found


def last_status(stdout):
    """Splits llc2conf's output into what comes before its status line (the
    dry run's diff) and the status word; (stdout, None) without one."""
    head, last = stdout.rstrip("\n").rpartition("\n")[::2]
    found = status_lines(last)
    if not found:
        return stdout, None
    return (head + "\n" if head else ""), found[0]["words"]


def warn_lines(module, stderr):
    """Passes on what a successful run said on standard error."""
    for line in stderr.splitlines():
        if line.strip():
            module.warn(line)
