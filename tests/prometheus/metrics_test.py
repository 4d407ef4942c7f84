#!/usr/bin/env python3
"""metrics_test.py BUILD parser|node_exporter: llc2 --metrics against llc2sim,
read as Prometheus reads it. "parser": prometheus_client's parser (Debian's
python3-prometheus-client) reads the output of PPAs in every state, odd
device names, a hung driver, no driver, and a German locale. "node_exporter":
node_exporter's textfile collector (Debian's prometheus-node-exporter) is fed
the files as the README's recipe writes them, and serves every llc2 series
as it was written. Each is skipped (77) where its program is missing."""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    # Debian's package serves Debian's python, which need not be this one.
    if sys.executable != "/usr/bin/python3" and os.access("/usr/bin/python3", os.X_OK):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    print("prometheus_client is missing: test skipped (scripts/deps test installs it)")
    sys.exit(77)

BUILD, WHICH = sys.argv.pop(1), sys.argv.pop(1)
LLC2 = os.path.join(BUILD, "cmd/llc2")
STATES = ["up", "down", "off", "bad", "not plumbed", "unknown"]
FAMILIES = ["llc2_ppa_up", "llc2_ppa_state", "llc2_ppa_as_configured",
            "llc2_ppa_pending_changes", "llc2_ppa_applied_timestamp_seconds",
            "llc2_scan_duration_seconds", "llc2_scan_success"]
ODD = b'q"\\x\xff'                  # needs escapes, and is no UTF-8
LONG = b"n" * 200
SHORT_WAIT = {"LLC2_EMU_WAIT_MS": "500"}


def conf(device, instance, on=1):
    return (b"devicename=%s\ndeviceinstance=%d\nllc2_on=%d\ndeviceloopback=0\n"
            b"timeinterval=0\nacktimer=2\nrsptimer=2\npolltimer=4\nrejecttimer=6\n"
            b"rembusytimer=8\ninacttimer=30\nmaxretry=6\nxmitwindowsz=14\nrcvwindowsz=14\n"
            % (device, instance, on))


class Root:
    """A root under /tmp with these configuration files, and llc2sim on it
    with the scenario (none: no driver)."""

    def __init__(self, files, scenario):
        self.dir = tempfile.mkdtemp(prefix="llc2p.", dir="/tmp")
        os.makedirs(os.path.join(self.dir, "etc/llc2/default"))
        for ppa, text in files.items():
            with open(os.path.join(self.dir, "etc/llc2/default/llc2.%d" % ppa), "wb") as f:
                f.write(text)
        self.sim = None
        if scenario is None:
            return
        with open(os.path.join(self.dir, "s.json"), "w") as f:
            f.write(scenario)
        self.sim = subprocess.Popen(
            [os.path.join(BUILD, "sim/llc2sim"), "--root", self.dir, "--scenario", f.name],
            stdout=subprocess.PIPE, text=True)
        if self.sim.stdout.readline() != "llc2sim: ready\n":
            raise RuntimeError("llc2sim did not come up")

    def llc2(self, *args, env=None):
        full = {"PATH": os.environ.get("PATH", ""), "LC_ALL": "C", "LLC2_ROOT": self.dir}
        full.update(env or {})
        return subprocess.run([LLC2, *args], env=full, capture_output=True, timeout=60)

    def close(self):
        if self.sim:
            self.sim.terminate()
            self.sim.wait()
        shutil.rmtree(self.dir)


def scenario(ppas="[]", faults="[]"):
    return ('{"interfaces": [{"name": "xnic", "macs": ["02:00:00:a1:b2:c3"]}], '
            '"ppas": %s, "faults": %s}' % (ppas, faults))


def every_state(root):
    """PPA 0 up and recorded, 1 down, 2 not plumbed, 3 switched off, 4 and 6
    odd device names, 5 held and not configured. When PPA 0 was applied."""
    before = time.time()
    assert root.llc2("-p", "0").returncode == 0
    after = time.time()
    assert root.llc2("-p", "1").returncode == 0
    assert root.llc2("-r", "1").returncode == 0
    return int(before), int(after) + 1


EVERY_STATE = ({0: conf(b"xnic", 0), 1: conf(b"xnic", 1), 2: conf(b"xnic", 2),
                3: conf(b"xnic", 3, 0), 4: conf(ODD, 4), 6: conf(LONG, 6)},
               scenario('[{"ppa": 5, "state": 4, "id": 9}]'))
HUNG = ({0: conf(b"xnic", 0), 5: conf(b"xnic", 5)},
        scenario('[{"ppa": 0, "state": 4, "id": 1}]',
                 '[{"request": "getppa", "ppa": 2, "noreply": true}]'))


def families(text, only=("llc2_",)):
    """The families of an exposition, strictly UTF-8, whose names start with
    one of only, by name; each sample as {labels without ppa: value}, by ppa."""
    got = {}
    for fam in text_string_to_metric_families(text.decode("utf-8")):
        if not fam.name.startswith(only):
            continue
        assert fam.name not in got, fam.name
        by_ppa = {}
        for s in fam.samples:
            labels = dict(s.labels)
            ppa = labels.pop("ppa", None)
            by_ppa.setdefault(ppa, {})[tuple(sorted(labels.items()))] = s.value
        got[fam.name] = (fam.type, fam.documentation, by_ppa)
    return got


def value(got, name, ppa, **labels):
    """The one sample's value, None when the family or the series is not there."""
    if name not in got:
        return None
    return got[name][2].get(ppa, {}).get(tuple(sorted(labels.items())))


class Parser(unittest.TestCase):
    def check_common(self, got, ppas, success):
        self.assertEqual([n for n in FAMILIES if n in got], list(got))  # no stranger
        for name, (kind, doc, _) in got.items():
            self.assertEqual(kind, "gauge", name)
            self.assertTrue(doc, name)
        self.assertEqual(value(got, "llc2_scan_success", None), success)
        self.assertGreaterEqual(value(got, "llc2_scan_duration_seconds", None), 0)
        # Every state listed for each PPA, one of them 1.
        states = got.get("llc2_ppa_state", ("", "", {}))[2]
        self.assertEqual(sorted(states), sorted(ppas))
        told = {}
        for ppa, series in states.items():
            self.assertEqual(sorted(k[0][1] for k in series), sorted(STATES), ppa)
            self.assertEqual(sum(series.values()), 1, ppa)
            told[ppa] = next(k[0][1] for k, v in series.items() if v == 1)
        return told

    def test_every_state(self):
        root = Root(*EVERY_STATE)
        self.addCleanup(root.close)
        applied = every_state(root)
        run = root.llc2("--metrics")
        self.assertEqual((run.returncode, run.stderr), (0, b""))
        got = families(run.stdout)
        told = self.check_common(got, [str(p) for p in range(7)], 1)
        self.assertEqual(told, {"0": "up", "1": "down", "2": "not plumbed", "3": "not plumbed",
                                "4": "not plumbed", "5": "up", "6": "not plumbed"})
        ups = {ppa: v for (ppa, series) in got["llc2_ppa_up"][2].items() for v in series.values()}
        self.assertEqual(ups, {"0": 1, "1": 0, "2": 0, "3": 0, "4": 0, "5": 1, "6": 0})
        for ppa, want in [("0", 1), ("1", 0), ("2", 0), ("3", 1), ("5", 0)]:
            self.assertEqual(value(got, "llc2_ppa_as_configured", ppa), want, ppa)
        # -r forgot PPA 1's parameters, so all ten are pending.
        self.assertEqual(got["llc2_ppa_pending_changes"][2], {"0": {(): 0}, "1": {(): 10}})
        stamps = got["llc2_ppa_applied_timestamp_seconds"][2]
        self.assertEqual(list(stamps), ["0"])
        self.assertTrue(applied[0] <= stamps["0"][()] <= applied[1], (applied, stamps))
        devices = {ppa: k[0][1] for ppa, s in got["llc2_ppa_up"][2].items() for k in s}
        self.assertEqual(devices["0"], "xnic0")
        self.assertEqual(devices["4"], 'q"\\x\ufffd4')
        self.assertEqual(devices["5"], "")
        self.assertEqual(devices["6"], "n" * 128)

    def test_german_numbers(self):
        # A locale whose decimal point is a comma, made for this run alone.
        locales = tempfile.mkdtemp(prefix="llc2l.", dir="/tmp")
        self.addCleanup(shutil.rmtree, locales)
        made = subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8",
                               os.path.join(locales, "de_DE.UTF-8")], capture_output=True)
        german = {"LOCPATH": locales, "LC_ALL": "de_DE.UTF-8"}
        shown = subprocess.run(["printf", "%.1f", "1.5"], env={**os.environ, **german},
                               capture_output=True)
        if made.returncode > 1 or shown.stdout != b"1,5":
            self.skipTest("no German locale here: %s" % made.stderr.decode(errors="replace"))
        root = Root(*EVERY_STATE)
        self.addCleanup(root.close)
        every_state(root)
        run = root.llc2("--metrics", env=german)
        self.assertEqual(run.returncode, 0)
        self.check_common(families(run.stdout), [str(p) for p in range(7)], 1)

    def test_hung_driver(self):
        root = Root(*HUNG)
        self.addCleanup(root.close)
        run = root.llc2("--metrics", env=SHORT_WAIT)
        self.assertEqual(run.returncode, 0)
        got = families(run.stdout)
        self.assertEqual(self.check_common(got, ["0", "5"], 0), {"0": "up", "5": "unknown"})
        self.assertEqual(list(got["llc2_ppa_up"][2]), ["0"])
        self.assertIsNone(value(got, "llc2_ppa_as_configured", "5"))

    def test_no_driver(self):
        root = Root({0: conf(b"xnic", 0)}, None)
        self.addCleanup(root.close)
        run = root.llc2("--metrics")
        self.assertEqual(run.returncode, 0)
        got = families(run.stdout)
        self.check_common(got, [], 0)
        self.assertEqual(list(got), ["llc2_scan_duration_seconds", "llc2_scan_success"])


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class NodeExporter(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="llc2n.", dir="/tmp")
        self.addCleanup(shutil.rmtree, self.dir)
        address = "127.0.0.1:%d" % free_port()
        self.url = "http://%s/metrics" % address
        self.exporter = subprocess.Popen(
            [EXPORTER, "--collector.disable-defaults", "--collector.textfile",
             "--collector.textfile.directory=" + self.dir, "--web.listen-address=" + address],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(self.exporter.wait)
        self.addCleanup(self.exporter.terminate)

    def scrape(self):
        for _ in range(100):
            try:
                with urllib.request.urlopen(self.url, timeout=5) as answer:
                    return answer.read()
            except OSError:
                if self.exporter.poll() is not None:
                    self.fail(self.exporter.stderr.read().decode(errors="replace"))
                time.sleep(0.1)
        self.fail("node_exporter did not answer")

    def test_serves_what_was_written(self):
        for name, (files, sim), env in [("every_state", EVERY_STATE, {}),
                                        ("hung", HUNG, SHORT_WAIT),
                                        ("no_driver", ({}, None), {})]:
            with self.subTest(name):
                root = Root(files, sim)
                self.addCleanup(root.close)
                if name == "every_state":
                    every_state(root)
                # As the recipe does: a temporary name the collector passes
                # over, then renamed into place.
                temporary = os.path.join(self.dir, ".llc2.prom.tmp")
                with open(temporary, "wb") as f:
                    run = subprocess.run([LLC2, "--metrics"], stdout=f, timeout=60,
                                         env={"LLC2_ROOT": root.dir, "LC_ALL": "C", **env})
                self.assertEqual(run.returncode, 0)
                os.rename(temporary, os.path.join(self.dir, "llc2.prom"))
                with open(os.path.join(self.dir, "llc2.prom"), "rb") as f:
                    written = families(f.read())
                served = families(self.scrape(), ("llc2_", "node_textfile_"))
                self.assertEqual(value(served, "node_textfile_scrape_error", None), 0)
                for family, (_, doc, by_ppa) in written.items():
                    self.assertEqual(served[family][1:], (doc, by_ppa), family)
                self.assertEqual(sorted(n for n in served if n.startswith("llc2_")),
                                 sorted(written))


if __name__ == "__main__":
    if WHICH == "node_exporter":
        EXPORTER = shutil.which("prometheus-node-exporter") or shutil.which("node_exporter")
        if EXPORTER is None:
            print("node_exporter is missing: test skipped "
                  "(scripts/deps test installs prometheus-node-exporter)")
            sys.exit(77)
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(
        NodeExporter if WHICH == "node_exporter" else Parser)
    sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
