"""The real program's self-update, end to end: the program (built with the
TEST-ONLY update key) runs under Xvfb on the input simulation, inside a
private network where the product's host names lead to a local HTTPS server
with a certificate authority made for this run (private-net.sh)."""
import hashlib
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.environ.get("PMR_SOURCE_DIR", ""), "tests", "e2e", "webdriver"))
import pmr_e2e as E  # noqa: E402

SOURCE_DIR = os.environ["PMR_SOURCE_DIR"]
HERE = os.path.join(SOURCE_DIR, "tests", "update")
PROGRAM = os.path.join(E.BINARY_DIR, "pellomar-testkey")
KEY = os.path.join(SOURCE_DIR, "tests", "fixtures", "update", "TEST-ONLY-signing-key.pem")
DL = "https://dl.pellomar.app"
WEB = "https://pellomar.app"


def der_to_rs_hex(der):
    """An ECDSA DER signature (SEQUENCE of two INTEGERs) as r||s hex."""
    assert der[0] == 0x30
    pos = 2 if der[1] < 0x80 else 2 + (der[1] & 0x7F)
    out = b""
    for _ in range(2):
        assert der[pos] == 0x02
        n = der[pos + 1]
        value = der[pos + 2:pos + 2 + n].lstrip(b"\0")
        out += value.rjust(32, b"\0")
        pos += 2 + n
    return out.hex()


def signed_manifest(tier, version, url, sha):
    payload = "PMR-UPDATE-1|%s|%s|%s|%s" % (tier, version, sha, url)
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", KEY], input=payload.encode(),
                         stdout=subprocess.PIPE, check=True).stdout
    return '{"tier":"%s","version":"%s","url":"%s","sha256":"%s","sig":"%s"}' % (
        tier, version, url, sha, der_to_rs_hex(der))


class UpdateEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="pmr-update-e2e-")
        subprocess.run([os.path.join(HERE, "make-test-ca.sh"), cls.dir], check=True)
        cls.www = os.path.join(cls.dir, "www")
        os.makedirs(os.path.join(cls.www, "m"))
        cls.server = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "update_server.py"), cls.www,
             os.path.join(cls.dir, "good.pem"), os.path.join(cls.dir, "good.key"), "443"],
            stdout=subprocess.PIPE, text=True)
        line = cls.server.stdout.readline()
        if not line.startswith("ready"):
            raise RuntimeError("update server did not start")

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait(10)
        cls.server.stdout.close()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        self.app = None
        self.work = tempfile.mkdtemp(prefix="case-", dir=self.dir)
        self.tmp = os.path.join(self.work, "tmp")
        self.apps = os.path.join(self.work, "apps")
        os.makedirs(self.tmp)
        os.makedirs(self.apps)
        self.appimage = os.path.join(self.apps, "Pellomar.AppImage")
        with open(self.appimage, "w") as f:
            f.write("#!/bin/sh\necho old version\n")
        os.chmod(self.appimage, 0o755)

    def tearDown(self):
        if self.app is not None:
            self.app.close()

    def start(self, manifest_url):
        self.app = E.App(program=PROGRAM, args=["--update-manifest=" + manifest_url],
                         env={"APPIMAGE": self.appimage, "CURL_CA_BUNDLE": os.path.join(self.dir, "ca.pem"),
                              "TMPDIR": self.tmp})
        self.app.wait_page("update-banner")

    def test_banner_progress_swap_and_relaunch(self):
        marker = os.path.join(self.work, "relaunched.txt")
        # The new version: a stand-in executable that reports it was started.
        new = ("#!/bin/sh\necho \"new version started as $0\" > '%s'\n" % marker).encode()
        # Large enough that the slow route takes seconds, so the page is seen
        # between progress reports even on a busy machine.
        new += b"# " + b"x" * (5 * 1024 * 1024) + b"\n"
        with open(os.path.join(self.www, "new.AppImage"), "wb") as f:
            f.write(new)
        sha = hashlib.sha256(new).hexdigest()
        with open(os.path.join(self.www, "m", "appimage.json"), "w") as f:
            f.write(signed_manifest("linux-free-appimage", "1.1.0", DL + "/slow/new.AppImage", sha))

        self.start(WEB + "/m/appimage.json")
        E.wait_until(lambda: self.app.js("return !document.getElementById('update-banner').hidden"), 40,
                     what="update banner")
        self.assertEqual(self.app.js("return document.getElementById('update-title').textContent"),
                         "Pellomar 1.1.0 is available")
        self.assertIn("1.0.2", self.app.js("return document.getElementById('update-detail').textContent"))

        # Record every progress call the native side makes, with the bar's width after it.
        self.app.js("""window.__progress = [];
            var show = window.onUpdateProgress;
            window.onUpdateProgress = function (r, t) {
              show(r, t);
              window.__progress.push([r, t, document.querySelector('#update-progress > div').style.width]);
            };""")
        self.app.by_id("update-go").click()
        seen = []

        def progressed():
            try:
                seen[:] = self.app.js("return window.__progress") or seen
            except Exception:  # the program ended for the relaunch
                return True
            return len(seen) >= 3 and os.path.exists(marker) is False and seen[-1][0] > seen[0][0]
        E.wait_until(progressed, 120, what="progress reports")
        E.wait_until(lambda: os.path.exists(marker), 60, what="relaunched new version")

        self.assertGreaterEqual(len(seen), 2, seen)
        total = len(new)
        # Before the answer's headers arrive the total is not known yet (0).
        self.assertTrue(all(t in (0, total) for _, t, _ in seen), seen)
        self.assertEqual(seen[-1][1], total, seen)
        widths = [float(w.rstrip("%")) for _, _, w in seen if w]
        self.assertGreater(widths[-1], widths[0], seen)
        with open(self.appimage, "rb") as f:
            self.assertEqual(f.read(), new)
        self.assertEqual(os.stat(self.appimage).st_mode & 0o777, 0o755)
        with open(marker) as f:
            self.assertEqual(f.read().strip(), "new version started as " + self.appimage)
        self.assertEqual(sorted(os.listdir(self.apps)), ["Pellomar.AppImage"])
        self.assertEqual(os.listdir(self.tmp), [])

    def test_deb_installs_into_a_private_root_and_relaunches(self):
        # A resource directory laid out as the .deb installs it: the program,
        # its pages, the root-owned update-install (the build that trusts the
        # TEST-ONLY key) and package-type "deb".
        res = os.path.join(self.work, "lib")
        os.makedirs(res)
        exe = os.path.join(res, "pellomar")
        shutil.copy2(PROGRAM, exe)
        for bundle in ("ui", "linux-ui"):
            shutil.copytree(os.path.join(E.BINARY_DIR, bundle), os.path.join(res, bundle))
        shutil.copy2(os.path.join(E.BINARY_DIR, "update-install-testkey"), os.path.join(res, "update-install"))
        with open(os.path.join(res, "package-type"), "w") as f:
            f.write("deb\n")
        # The update is the .deb that make package builds.
        pkg = os.path.join(self.work, "pkg")
        subprocess.run([os.path.join(SOURCE_DIR, "scripts", "package.sh"), E.BINARY_DIR, pkg], check=True,
                       stdout=subprocess.DEVNULL)
        built = [os.path.join(pkg, n) for n in os.listdir(pkg) if n.endswith(".deb")][0]
        # The helper installs only the version the manifest names: the package
        # is rebuilt as 1.1.0.
        tree = os.path.join(self.work, "tree")
        subprocess.run(["dpkg-deb", "-R", built, tree], check=True)
        control = os.path.join(tree, "DEBIAN", "control")
        with open(control) as f:
            text = f.read()
        with open(control, "w") as f:
            f.write(text.replace("Version: 1.0.2\n", "Version: 1.1.0\n"))
        deb = os.path.join(self.work, "pellomar_1.1.0_amd64.deb")
        subprocess.run(["dpkg-deb", "--root-owner-group", "-Zxz", "--build", tree, deb], check=True,
                       stdout=subprocess.DEVNULL)
        shutil.copy2(deb, os.path.join(self.www, "pellomar.deb"))
        with open(deb, "rb") as f:
            sha = hashlib.sha256(f.read()).hexdigest()
        with open(os.path.join(self.www, "m", "deb.json"), "w") as f:
            f.write(signed_manifest("linux-free-deb", "1.1.0", DL + "/pellomar.deb", sha))
        # pkexec runs the command as it is (the tests run as root); the
        # package tool installs into a private root with its own database, and
        # dpkg-query answers the version installed now. The program and the
        # helper look for system programs in /usr/sbin first, never in PATH:
        # the stand-ins go there, on a tmpfs of this private mount namespace.
        fake = os.path.join(self.work, "fakebin")
        root = os.path.join(self.work, "root")
        os.makedirs(fake)
        os.makedirs(os.path.join(root, "var", "lib", "dpkg", "info"))
        os.makedirs(os.path.join(root, "var", "lib", "dpkg", "updates"))
        open(os.path.join(root, "var", "lib", "dpkg", "status"), "w").close()
        log = os.path.join(self.work, "pkexec.log")
        scripts = {
            "pkexec": "#!/bin/sh\necho \"$*\" >> '%s'\nexec \"$@\"\n" % log,
            "apt-get": "#!/bin/sh\necho \"apt-get $*\" >> '%s'\nfor last in \"$@\"; do :; done\n"
                       "exec /usr/bin/dpkg --root='%s' --force-depends -i \"$last\"\n" % (log, root),
            "dpkg-query": "#!/bin/sh\necho 1.0.2\n",
        }
        for name in ("dpkg", "rpm", "dnf", "zypper"):
            scripts[name] = "#!/bin/sh\necho \"%s $*\" >> '%s'\nexit 1\n" % (name, log)
        for name, text in scripts.items():
            with open(os.path.join(fake, name), "w") as f:
                f.write(text)
            os.chmod(os.path.join(fake, name), 0o755)
        subprocess.run(["mount", "--make-rprivate", "/"], check=True)
        # dpkg itself needs ldconfig and start-stop-daemon from the real /usr/sbin.
        real = os.path.join(self.work, "realsbin")
        os.makedirs(real)
        subprocess.run(["cp", "-a", "/usr/sbin/.", real + "/"], check=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=755", "tmpfs", "/usr/sbin"], check=True)
        self.addCleanup(subprocess.run, ["umount", "/usr/sbin"])
        subprocess.run(["cp", "-a", real + "/.", "/usr/sbin/"], check=True)
        for name in scripts:
            shutil.copy2(os.path.join(fake, name), "/usr/sbin/" + name)

        def instances():
            found = set()
            for pid in os.listdir("/proc"):
                try:
                    if pid.isdigit() and os.readlink("/proc/%s/exe" % pid) == exe:
                        found.add(int(pid))
                except OSError:
                    pass
            return found

        self.app = E.App(program=exe, args=["--update-manifest=" + WEB + "/m/deb.json"],
                         env={"CURL_CA_BUNDLE": os.path.join(self.dir, "ca.pem"), "TMPDIR": self.tmp})
        self.app.wait_page("update-banner")
        E.wait_until(lambda: self.app.js("return !document.getElementById('update-banner').hidden"), 40,
                     what="update banner")
        first = E.wait_until(lambda: (lambda now: now if len(now) == 1 else None)(instances()), 30,
                             what="one running program")
        self.app.by_id("update-go").click()
        try:
            # The relaunch starts the program once this one has ended (a
            # child the program forks shares its executable for a moment, so
            # only an instance seen after the first one is gone counts).
            relaunched = E.wait_until(lambda: (lambda now: set() if now & first else now)(instances()), 90,
                                      what="relaunched program")
        except AssertionError:
            detail = ""
            try:
                detail = self.app.js("return document.getElementById('update-banner').textContent")
            except Exception:
                pass
            log_text = open(log).read() if os.path.exists(log) else "(pkexec never ran)"
            raise AssertionError("no relaunch; page: %r; pkexec: %r; stderr: %s" % (detail, log_text,
                                                                                   self.app.stderr()[-2000:]))
        try:
            with open(log) as f:
                calls = f.read().split("\n")
            # The helper is asked for by its installed path, given nothing to
            # trust from the program, and installs without downgrading.
            self.assertEqual(calls[0], os.path.join(res, "update-install") + " --wait")
            self.assertTrue(calls[1].startswith("apt-get install -y /tmp/pellomar-install-"), calls)
            self.assertTrue(calls[1].endswith("/update.deb"), calls)
            self.assertTrue(os.access(os.path.join(root, "usr", "lib", "pellomar", "pellomar"), os.X_OK))
            with open(os.path.join(root, "usr", "lib", "pellomar", "package-type")) as f:
                self.assertEqual(f.read(), "deb\n")
            status = subprocess.run(["/usr/bin/dpkg-query", "--root=" + root, "-s", "pellomar"], stdout=subprocess.PIPE,
                                    text=True).stdout
            self.assertIn("Status: install ok installed", status)
            self.assertEqual(os.listdir(self.tmp), [])
        finally:
            for pid in relaunched:
                os.kill(pid, 15)
            E.wait_until(lambda: not (instances() & relaunched), 30, what="relaunched program ended")

    def test_stalled_server_keeps_the_page_responsive(self):
        self.start(WEB + "/stall")
        self.app.wait_input_ready()
        self.app.js("window.__first = null; startUpdate().then(function (m) { window.__first = m; });")
        # A second request is answered at once while the first one waits.
        self.assertEqual(self.app.bridge("startUpdate")["ok"], "An update is already in progress.")
        # The page's own calls are answered while the update still waits on the server.
        self.assertIn("autoClicking", self.app.bridge("getTrackerStatus")["ok"])
        self.assertIsNone(self.app.js("return window.__first"))
        E.wait_until(lambda: self.app.js("return window.__first"), 60, what="stalled update answered")
        self.assertEqual(self.app.js("return window.__first"),
                         "Update failed: the update is no longer available. Try again later.")
        self.assertTrue(self.app.js("return document.getElementById('update-banner').hidden"))
        self.assertEqual(os.listdir(self.tmp), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
