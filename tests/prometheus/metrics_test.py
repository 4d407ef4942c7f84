#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""metrics_test.py BUILD parser|node_exporter: llc2 --metrics against llc2sim,
read as Prometheus reads it: by prometheus_client's parser (Debian's
python3-prometheus-client), or by node_exporter's textfile collector
(prometheus-node-exporter), fed as the README's recipe feeds it. PPAs in
every state, odd device names, a hung driver, no driver, links left by
interrupted runs; and the README's alerting rules evaluated on what was
read. The values themselves are tests/cmd/metrics_test.cpp's. Skipped (77)
without the reader."""

import collections
import operator
import os
import re
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
    import yaml
except ImportError:
    # Debian's package serves Debian's python, which need not be this one.
    if sys.executable != "/usr/bin/python3" and os.access("/usr/bin/python3", os.X_OK):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    print("prometheus_client or yaml is missing: test skipped (scripts/deps test installs them)")
    sys.exit(77)

BUILD, WHICH = sys.argv.pop(1), sys.argv.pop(1)
LLC2 = os.path.join(BUILD, "cmd/llc2")
STATES = {"up", "down", "off", "bad", "not plumbed", "unknown"}
FAMILIES = {"llc2_ppa_up", "llc2_ppa_info", "llc2_ppa_state", "llc2_ppa_as_configured",
            "llc2_ppa_pending_changes", "llc2_ppa_applied_timestamp_seconds",
            "llc2_orphan_links", "llc2_unknown_links", "llc2_scan_duration_seconds",
            "llc2_scan_success", "llc2_build_info"}
README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../README.md")


def conf(device, instance, on=1):
    return (b"devicename=%s\ndeviceinstance=%d\nllc2_on=%d\ndeviceloopback=0\n"
            b"timeinterval=0\nacktimer=2\nrsptimer=2\npolltimer=4\nrejecttimer=6\n"
            b"rembusytimer=8\ninacttimer=30\nmaxretry=6\nxmitwindowsz=14\nrcvwindowsz=14\n"
            % (device, instance, on))


def scenario(ppas, faults="[]"):
    return '{"interfaces": [{"name": "xnic"}], "ppas": %s, "faults": %s}' % (ppas, faults)


# Each case: its configuration files, its scenario (None: no driver), its
# environment, the PPAs told, the llc2 runs made first with the status each
# ends with, and whether the scan succeeds. In every_state PPA 0 is brought
# up and PPA 1 down by llc2 first; 4 and 6 have device names that need
# escapes, are no UTF-8, or are too long. Which state each PPA is in is
# tests/cmd/metrics_test.cpp's to check. A plumb whose SETPPA or I_PLINK is
# never answered leaves a link under no PPA, or one that may be held.
Case = collections.namedtuple("Case", "files scenario env told before success")
SHORT = {"LLC2_EMU_WAIT_MS": "500"}
CASES = {
    "every_state": Case({0: conf(b"xnic", 0), 1: conf(b"xnic", 1), 2: conf(b"xnic", 2),
                         3: conf(b"xnic", 3, 0), 4: conf(b'q"\\x\xff', 4), 6: conf(b"n" * 200, 6)},
                        scenario('[{"ppa": 5, "state": 4, "id": 9}]'), {}, "0123456",
                        [(["-p", "0"], 0), (["-p", "1"], 0), (["-r", "1"], 0)], True),
    "as_configured": Case({0: conf(b"xnic", 0)}, scenario("[]"), {}, "0", [(["-p", "0"], 0)], True),
    "hung": Case({0: conf(b"xnic", 0), 5: conf(b"xnic", 5)},
                 scenario('[{"ppa": 0, "state": 4, "id": 1}]',
                          '[{"request": "getppa", "ppa": 2, "noreply": true}]'),
                 SHORT, "05", [], False),
    "no_driver": Case({0: conf(b"xnic", 0)}, None, {}, "", [], False),
    "link_left": Case({0: conf(b"xnic", 0)},
                      scenario("[]", '[{"request": "setppa", "noreply": true, "count": 1}]'),
                      SHORT, "0", [(["-p", "0"], 255)], True),
    "link_may_be_held": Case({0: conf(b"xnic", 0)},
                             scenario("[]", '[{"request": "plink", "noreply": true, "count": 1}]'),
                             SHORT, "0", [(["-p", "0"], 255)], True),
}


def metrics(name, out=subprocess.PIPE, env=None):
    """llc2 --metrics run in a fresh root for the case, llc2sim on it."""
    case = CASES[name]
    root = tempfile.mkdtemp(prefix="llc2p.", dir="/tmp")
    os.makedirs(os.path.join(root, "etc/llc2/default"))
    for ppa, text in case.files.items():
        with open(os.path.join(root, "etc/llc2/default/llc2.%d" % ppa), "wb") as f:
            f.write(text)
    env = {"LC_ALL": "C", "LLC2_ROOT": root, **case.env, **(env or {})}
    sim = None
    try:
        if case.scenario is not None:
            with open(os.path.join(root, "s.json"), "w") as f:
                f.write(case.scenario)
            sim = subprocess.Popen([os.path.join(BUILD, "sim/llc2sim"), "--root", root,
                                    "--scenario", f.name], stdout=subprocess.PIPE, text=True)
            assert sim.stdout.readline() == "llc2sim: ready\n"
        for args, status in case.before:
            ran = subprocess.run([LLC2, *args], env=env, capture_output=True, timeout=60)
            assert ran.returncode == status, (args, ran)
        return subprocess.run([LLC2, "--metrics"], env=env, stdout=out, stderr=subprocess.PIPE,
                              timeout=60)
    finally:
        if sim:
            sim.terminate()
            sim.wait()
        shutil.rmtree(root)


def families(text, only=("llc2_",)):
    """The families whose names start with one of only, of an exposition read
    as strict UTF-8: {name: (type, help, {ppa: {other labels: value}})}."""
    got = {}
    for fam in text_string_to_metric_families(text.decode("utf-8")):
        if fam.name.startswith(only):
            assert fam.name not in got, "twice: " + fam.name
            series = {}
            for s in fam.samples:
                labels = dict(s.labels)
                series.setdefault(labels.pop("ppa", None), {})[frozenset(labels.items())] = s.value
            got[fam.name] = (fam.type, fam.documentation, series)
    return got


def readme_rules():
    """The README's alerting rules: {alert: expression}."""
    with open(README, encoding="utf-8") as f:
        block = re.search(r"^```yaml\n(groups:.*?)^```$", f.read(), re.S | re.M).group(1)
    return {r["alert"]: r["expr"] for g in yaml.safe_load(block)["groups"] for r in g["rules"]}


COMPARE = {"==": operator.eq, "!=": operator.ne, ">": operator.gt, "<": operator.lt}
SELECTION = re.compile(r"(time\(\) - )?([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{(.*)\})?"
                       r" (==|!=|>|<) ([0-9.]+)")
MATCHER = re.compile(r'([a-zA-Z_][a-zA-Z0-9_]*)(=~|!~|!=|=)"([^"\\]*)"')
MATCHES = {"=": operator.eq, "!=": operator.ne,
           "=~": lambda v, p: re.fullmatch(p, v) is not None,
           "!~": lambda v, p: re.fullmatch(p, v) is None}


def evaluate(expr, text, now):
    """The label sets of the series expr selects in the exposition text at
    the time now: PromQL for exactly the forms of the README's rules, a
    selector, or time() less one, compared with a number, joined by "or".
    Any other form fails here, to be taught first."""
    samples = [s for fam in text_string_to_metric_families(text.decode("utf-8"))
               for s in fam.samples]
    selected = []
    for part in expr.split(" or "):
        form = SELECTION.fullmatch(part.strip())
        assert form, "not a form the evaluator knows: " + part
        age, name, matchers, compare, number = form.groups()
        wanted = [MATCHER.fullmatch(m.strip()) for m in (matchers or "").split(",") if m.strip()]
        assert all(wanted), "not a matcher the evaluator knows: " + matchers
        for s in samples:
            value = now - s.value if age else s.value
            if (s.name == name and COMPARE[compare](value, float(number))
                    and all(MATCHES[m[2]](s.labels.get(m[1], ""), m[3]) for m in wanted)
                    and s.labels not in selected):
                selected.append(s.labels)
    return selected


class Parser(unittest.TestCase):
    def check(self, name, env=None):
        run = metrics(name, env=env)
        self.assertEqual(run.returncode, 0)
        got = families(run.stdout)
        self.assertLessEqual(set(got), FAMILIES)
        for kind, doc, _ in got.values():
            self.assertEqual((kind, bool(doc)), ("gauge", True))
        self.assertEqual(got["llc2_scan_success"][2], {None: {frozenset(): CASES[name].success}})
        # Every state listed for each PPA told, one of them 1.
        told = got.get("llc2_ppa_state", (0, 0, {}))[2]
        self.assertEqual(sorted(told), list(CASES[name].told))
        for series in told.values():
            self.assertEqual({dict(k)["state"] for k in series}, STATES)
            self.assertEqual(sorted(series.values()), [0] * (len(STATES) - 1) + [1])
        return got

    def test_every_case(self):
        for name in CASES:
            with self.subTest(name):
                self.check(name)

    def test_readme_alerts(self):
        # The rules that fire on each case's exposition: each rule fires on
        # one and not on as_configured. The textfile's age is NodeExporter's.
        fires = {
            "every_state": {"LLC2PPANotAsConfigured"},
            "as_configured": set(),
            "hung": {"LLC2PPANotAsConfigured", "LLC2PPACannotBeTold", "LLC2ScanFailing"},
            "no_driver": {"LLC2ScanFailing"},
            "link_left": {"LLC2PPANotAsConfigured", "LLC2LinksLeftBehind"},
            "link_may_be_held": {"LLC2PPANotAsConfigured", "LLC2LinksLeftBehind"},
        }
        rules = readme_rules()
        self.assertEqual(set().union(*fires.values()), set(rules) - {"LLC2MetricsStale"})
        for name, expected in fires.items():
            with self.subTest(name):
                text = metrics(name).stdout
                self.assertEqual({alert for alert, expr in rules.items()
                                  if evaluate(expr, text, time.time())}, expected)

    def test_device_labels(self):
        up = self.check("every_state")["llc2_ppa_up"][2]
        self.assertEqual({ppa: dict(k)["device"] for ppa in "0456" for k in up[ppa]},
                         {"0": "xnic0", "4": 'q"\\x\ufffd4', "5": "", "6": "n" * 128})

    def test_numbers_in_a_german_locale(self):
        # A locale whose decimal point is a comma, made for this run alone.
        locales = tempfile.mkdtemp(prefix="llc2l.", dir="/tmp")
        self.addCleanup(shutil.rmtree, locales)
        subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8",
                        os.path.join(locales, "de_DE.UTF-8")], capture_output=True)
        german = {"LOCPATH": locales, "LC_ALL": "de_DE.UTF-8"}
        shown = subprocess.run(["printf", "%.1f", "1.5"], env=german, capture_output=True)
        if shown.stdout != b"1,5":
            self.skipTest("no German locale here")
        self.check("no_driver", german)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class NodeExporter(unittest.TestCase):
    def serve(self):
        """A node_exporter reading a directory of its own: the directory, and
        the URL of its metrics."""
        directory = tempfile.mkdtemp(prefix="llc2n.", dir="/tmp")
        self.addCleanup(shutil.rmtree, directory)
        address = "127.0.0.1:%d" % free_port()
        exporter = subprocess.Popen(
            [EXPORTER, "--collector.disable-defaults", "--collector.textfile",
             "--collector.textfile.directory=" + directory, "--web.listen-address=" + address],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(exporter.wait)
        self.addCleanup(exporter.terminate)
        return directory, "http://%s/metrics" % address

    def test_serves_what_was_written(self):
        directory, url = self.serve()
        for name in CASES:
            with self.subTest(name):
                # As the recipe does: a name the collector passes over, then
                # renamed into place.
                temporary = os.path.join(directory, ".llc2.prom.tmp")
                with open(temporary, "wb") as f:
                    self.assertEqual(metrics(name, out=f).returncode, 0)
                os.rename(temporary, os.path.join(directory, "llc2.prom"))
                with open(os.path.join(directory, "llc2.prom"), "rb") as f:
                    written = families(f.read())
                served = families(scrape(url), ("llc2_", "node_textfile_scrape_error"))
                errors = served.pop("node_textfile_scrape_error")[2]
                self.assertEqual(errors, {None: {frozenset(): 0}})
                self.assertEqual({n: f[1:] for n, f in served.items()},
                                 {n: f[1:] for n, f in written.items()})

    def test_readme_alert_for_a_stale_file(self):
        directory, url = self.serve()
        path = os.path.join(directory, "llc2.prom")
        with open(path, "wb") as f:
            self.assertEqual(metrics("as_configured", out=f).returncode, 0)
        expr = readme_rules()["LLC2MetricsStale"]
        for minutes, fires in ((9, False), (11, True)):
            with self.subTest(minutes=minutes):
                now = time.time()
                os.utime(path, (now - minutes * 60, now - minutes * 60))
                self.assertEqual(bool(evaluate(expr, scrape(url), now)), fires)


def scrape(url):
    for _ in range(100):
        try:
            with urllib.request.urlopen(url, timeout=5) as answer:
                return answer.read()
        except OSError:
            time.sleep(0.1)
    raise AssertionError("node_exporter did not answer at " + url)


if __name__ == "__main__":
    EXPORTER = shutil.which("prometheus-node-exporter") or shutil.which("node_exporter")
    if WHICH == "node_exporter" and EXPORTER is None:
        print("node_exporter is missing: test skipped "
              "(scripts/deps test installs prometheus-node-exporter)")
        sys.exit(77)
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(
        NodeExporter if WHICH == "node_exporter" else Parser)
    sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
