#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""programs_test.py SOURCE: which llc2 the modules run. A real AnsibleModule
finds it with module_utils/llc2.py's program() among stand-ins that say where
they are, one on PATH, one in SBINDIR, one given by the option, and runs it.
Run by the python ansible runs with; skipped (77) without ansible."""

import importlib.util
import json
import os
import shutil
import sys
import tempfile
import unittest
import unittest.mock

try:
    from ansible.module_utils import basic
except ImportError:
    # ansible's python may not be this one: the one its command names, then.
    ansible = shutil.which("ansible")
    if ansible and "LLC2_ANSIBLE_PYTHON" not in os.environ:
        with open(ansible) as f:
            line = f.readline()
        if line.startswith("#!"):
            python = line[2:].split()
            os.environ["LLC2_ANSIBLE_PYTHON"] = python[0]
            os.execv(python[0], python + sys.argv)
    print("ansible is missing: test skipped (scripts/deps test installs ansible-core)")
    sys.exit(77)

SOURCE = sys.argv.pop(1)
where = importlib.util.spec_from_file_location(
    "llc2_utils", os.path.join(SOURCE, "ansible/ansible_collections/llc2/llc2/plugins/module_utils/llc2.py"))
llc2 = importlib.util.module_from_spec(where)
where.loader.exec_module(llc2)


class Program(unittest.TestCase):
    def test_which_is_run(self):
        # the stand-ins there are, the one that runs; "given" is the option's
        for there, want in [
            (("path", "sbin"), "path"),
            (("sbin",), "sbin"),
            (("path", "sbin", "given"), "given"),
        ]:
            with self.subTest(there=there), tempfile.TemporaryDirectory() as tmp:
                for where in there:
                    os.mkdir(os.path.join(tmp, where))
                    with open(os.path.join(tmp, where, "llc2"), "w") as f:
                        f.write("#!/bin/sh\necho %s\n" % where)
                    os.chmod(f.name, 0o755)
                args = {"llc2_path": os.path.join(tmp, "given/llc2")} if "given" in there else {}
                basic._ANSIBLE_ARGS = json.dumps({"ANSIBLE_MODULE_ARGS": args}).encode()
                module = basic.AnsibleModule(argument_spec={"llc2_path": {"type": "path"}})
                path = os.path.join(tmp, "path") + os.pathsep + os.environ.get("PATH", "")
                with unittest.mock.patch.dict(os.environ, {"PATH": path}), \
                        unittest.mock.patch.object(llc2, "SBINDIR", os.path.join(tmp, "sbin")):
                    rc, out, _ = llc2.run(module, [llc2.program(module, "llc2", "llc2_path")])
                self.assertEqual((rc, out), (0, want + "\n"))

if __name__ == "__main__":
    unittest.main()
