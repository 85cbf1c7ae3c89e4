"""The Firefox exports of Plugin_lmwt, called by real NSIS installers under wine64 against
profiles, preference folders and install keys laid out as a Firefox installation has them;
those that need NSS reach Debian's behind the test bridge, judged by NSS's own tools."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nsis_cases as nc  # noqa: E402

PLUGIN_DIR = None
PROBE = None
NSS_BRIDGE = None
# A Linux PKCS#11 module that stands for the system's module in Linux NSS.
LINUX_MODULE = "/usr/lib/x86_64-linux-gnu/libnssckbi.so"
MODULE_PATH = "C:\\windows\\system32\\kvnp11.dll"
FIREFOX_KEY = r"HKLM\Software\Wow6432Node\Mozilla"
VERSION = "115.0 (x64 en-US)"
SETTINGS = r"HKCU\Software\Korvanet\507Q2_KOBA"
PLUGIN_KEY = r"HKLM\SOFTWARE\MozillaPlugins\@korvanet.com/koba"
LINE = 'user_pref("koba.kvn.enabled", true);'
BANK_CA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "common",
                       "bank_ca")


def unix_path(windows_path):
    return nc.wine("winepath.exe", "-u", windows_path)[1].strip()


def reg_add(key, name, data):
    nc.wine("reg.exe", "add", key, "/v", name, "/d", data, "/f", check=True)


class FirefoxLayout(unittest.TestCase):
    """profiles.ini with a relative and an absolute (default) profile, a Firefox and an
    Aurora installation in the 32-bit view, and the user's extra preference folder."""

    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work, True)
        appdata = unix_path(nc.wine("cmd.exe", "/c", "echo %APPDATA%")[1].strip())
        self.mozilla = os.path.join(appdata, "Mozilla")
        root = os.path.join(self.mozilla, "Firefox")
        self.first = os.path.join(root, "Profiles", "first.default")
        self.second = self.path("second")
        for folder in (self.first, self.second, self.path("firefox/defaults/pref"),
                       self.path("aurora/defaults/pref"), self.path("userpref")):
            os.makedirs(folder, exist_ok=True)
        with open(os.path.join(root, "profiles.ini"), "w") as f:
            f.write("[General]\r\nStartWithLastProfile=1\r\n\r\n"
                    "[Profile0]\r\nName=default\r\nIsRelative=1\r\nPath=Profiles/first.default\r\n"
                    "\r\n[Profile1]\r\nName=second\r\nIsRelative=0\r\nPath=%s\r\nDefault=1\r\n"
                    % nc.windows_path(self.second))
        for profile in (self.first, self.second):
            with open(os.path.join(profile, "prefs.js"), "wb") as f:
                f.write(b'user_pref("browser.startup.page", 3);')
        reg_add(FIREFOX_KEY + r"\Mozilla Firefox", "CurrentVersion", VERSION)
        reg_add(FIREFOX_KEY + r"\Mozilla Firefox\%s\Main" % VERSION, "Install Directory",
                nc.windows_path(self.path("firefox")))
        reg_add(FIREFOX_KEY + r"\Aurora\120.0a2\Main", "Install Directory",
                nc.windows_path(self.path("aurora")))
        reg_add(SETTINGS, "FFPrefPath", nc.windows_path(self.path("userpref")))
        self.addCleanup(nc.wine, "reg.exe", "delete", FIREFOX_KEY, "/f")
        self.addCleanup(nc.wine, "reg.exe", "delete", SETTINGS, "/v", "FFPrefPath", "/f")
        self.addCleanup(nc.wine, "reg.exe", "delete", r"HKLM\SOFTWARE\MozillaPlugins", "/f")
        self.addCleanup(shutil.rmtree, self.mozilla, True)

    def path(self, name):
        return os.path.join(self.work, name)

    def prefs(self, profile):
        with open(os.path.join(profile, "prefs.js"), "rb") as f:
            return f.read()

    def test_preferences_and_plugin(self):
        script = self.path("koba.js")
        with open(script, "w") as f:
            f.write('pref("koba.kvn", 1);\n')
        plugin_file = os.path.join(os.environ["WINEPREFIX"], "drive_c", "Program Files",
                                   "KOBAEbankTools", "KOBAEbankPlugin", "npkoba.dll")
        os.makedirs(os.path.dirname(plugin_file), exist_ok=True)
        self.addCleanup(shutil.rmtree, os.path.dirname(os.path.dirname(plugin_file)), True)
        open(plugin_file, "wb").close()

        def register(description, version):
            return ["@korvanet.com/koba", description, "npkoba.dll", "KOBA plug-in", version,
                    "application/x-koba"]
        cases = [
            ("preference folder", "FFox_PrefPath", [],
             nc.windows_path(self.path("firefox")) + "\\defaults\\pref"),
            ("line to every profile", "FFox_CopyPref_ToJS", [LINE], nc.UNSET),
            ("script to every installation", "FFox_CopyJSToPref", [nc.windows_path(script)], "1"),
            ("script removed", "FFox_DelJSFilePref", ["koba.js"], "1"),
            ("already removed", "FFox_DelJSFilePref", ["koba.js"], "0"),
            ("register", "FFox_RegPlugin", register("first", "1.0.0.1"), nc.UNSET),
            ("same version keeps", "FFox_RegPlugin", register("same", "1.0.0.1"), nc.UNSET),
            ("older place keeps", "FFox_RegPlugin", register("older", "1.0.1.0"), nc.UNSET),
            ("query", "ReadRegStr", ["/x64", "HKLM", PLUGIN_KEY[5:], "Description", "go"],
             "first"),
            ("newer replaces", "FFox_RegPlugin", register("newer", "1.1.0.1"), nc.UNSET),
            ("query again", "ReadRegStr", ["/x64", "HKLM", PLUGIN_KEY[5:], "Description", "go"],
             "newer"),
            ("no NSS in the installation", "FFox_AddP11Name", ["kvnp11.dll", "KOBA"], nc.UNSET),
            ("no NSS for certificates", "FFox_AddRootCert", [], nc.UNSET),
        ]
        lines = [nc.case_lines(export, args) for _, export, args, _ in cases]
        results = nc.run(nc.build(PLUGIN_DIR, self.work, "firefox", lines))
        self.assertEqual(len(results), len(cases))
        for (title, _, _, expected), got in zip(cases, results):
            self.assertEqual(got, expected, title)

        self.assertEqual(sorted(os.listdir(self.first)), ["prefs.js"])
        for profile in (self.first, self.second):
            self.assertEqual(self.prefs(profile),
                             b'user_pref("browser.startup.page", 3);\r\n' + LINE.encode())
        self.assertTrue(os.path.isfile(self.path("userpref/koba.js")))
        self.assertIsNone(nc.reg_value(SETTINGS, "FFPrefPath"))
        for install in ("firefox", "aurora"):
            self.assertFalse(os.path.exists(self.path(install + "/defaults/pref/koba.js")))
        expected = {"Path": "C:\\Program Files\\KOBAEbankTools\\KOBAEbankPlugin\\npkoba.dll",
                    "Vendor": "Korvanet Corporation", "Version": "1.1.0.1",
                    "ProductName": "KOBA plug-in"}
        for name, data in expected.items():
            self.assertEqual(nc.reg_value(PLUGIN_KEY, name), ("REG_SZ", data), name)
        self.assertEqual(nc.reg_value(PLUGIN_KEY + r"\MimeTypes\application/x-koba",
                                      "Description"), ("REG_SZ", "newer"))

        results = nc.run(nc.build(PLUGIN_DIR, self.work, "unregister",
                                  [nc.case_lines("FFox_UnRegPlugin", ["@korvanet.com/koba"])]))
        self.assertEqual(results, [nc.UNSET])
        self.assertFalse(nc.reg_key_exists(PLUGIN_KEY))
        self.assertTrue(nc.reg_key_exists(r"HKLM\SOFTWARE\MozillaPlugins"))

    def test_security_device(self):
        """Firefox's NSS is Debian's behind the test bridge; the Windows library path that the
        export registers is a file name that Linux NSS finds on LD_LIBRARY_PATH."""
        shutil.copy(NSS_BRIDGE, self.path("firefox/nss3.dll"))
        modules = self.path("modules")
        os.makedirs(modules)
        os.symlink(LINUX_MODULE, os.path.join(modules, MODULE_PATH))
        env = dict(os.environ, LD_LIBRARY_PATH=modules)
        exe = nc.build(PLUGIN_DIR, self.work, "p11", [
            nc.case_lines("FFox_AddP11Name", ["KVNP11.dll", "KOBA Token"]),
            nc.case_lines("FFox_AddP11Name", ["kvnp11.dll", "KOBA Token Again"])])
        self.assertEqual(nc.run(exe, env=env), [nc.UNSET, nc.UNSET])
        listing = subprocess.run(["modutil", "-list", "-dbdir", "sql:" + self.first],
                                 capture_output=True, text=True, check=True).stdout
        # Both names lower-cased by the export; the path from the Windows folder as it is.
        self.assertIn("koba token\n\tlibrary name: " + MODULE_PATH + "\n", listing)
        self.assertNotIn("again", listing)  # the library was already a security device

    def test_root_certificates(self):
        """The bank's first five CA certificates in the first profile's database: the three
        roots trusted to issue for every use, the two others trusted for SSL with the rest of
        their trust kept."""
        shutil.copy(NSS_BRIDGE, self.path("firefox/nss3.dll"))
        db = "sql:" + self.first
        subprocess.run(["certutil", "-N", "-d", db, "--empty-password"], check=True)
        # The fourth is there already, trusted by the user for e-mail.
        subprocess.run(["certutil", "-A", "-d", db, "-n", "mail ca", "-t", ",C,", "-i",
                        os.path.join(BANK_CA, "ca04.cer")], check=True)
        exe = nc.build(PLUGIN_DIR, self.work, "rootcerts",
                       [nc.case_lines("FFox_AddRootCert", [])])
        self.assertEqual(nc.run(exe), [nc.UNSET])

        # Imported without nicknames: the listing shows the trust, looking each certificate up
        # by its file shows which one has it.
        listing = subprocess.run(["certutil", "-L", "-d", db], capture_output=True, text=True,
                                 check=True).stdout
        entries = sorted(tuple(line.rsplit(None, 1)) for line in listing.splitlines()[4:])
        self.assertEqual(entries, [("(NULL)", "CT,C,C")] * 3 + [("(NULL)", "P,,"),
                                                                 ("mail ca", "P,C,")])
        ssl = {}
        for name in sorted(os.listdir(BANK_CA)):
            shown = subprocess.run(["certutil", "-L", "-d", db, "-n",
                                    os.path.join(BANK_CA, name)],
                                   capture_output=True, text=True, check=True).stdout
            if "Certificate Trust Flags:" in shown:
                flags = shown.split("SSL Flags:")[1].split("Email Flags:")[0]
                ssl[name] = sorted(line.strip() for line in flags.splitlines() if line.strip())
        root = ["Trusted CA", "Trusted Client CA", "Valid CA"]
        self.assertEqual(ssl, {"ca01.cer": root, "ca02.cer": root, "ca03.cer": root,
                               "ca04.cer": ["Terminal Record", "Trusted"],
                               "ca05.cer": ["Terminal Record", "Trusted"]})

    def test_running_firefox(self):
        firefox = self.path("firefox/firefox.exe")
        shutil.copy(PROBE, firefox)
        ready = self.path("ready")
        args = [LINE, "Close Firefox", "Firefox must close", "unused"]
        exe = nc.build(PLUGIN_DIR, self.work, "findfox",
                       [nc.case_lines("FindProc_firefox", args, variable="$9")])
        self.assertEqual(nc.run(exe), ["0"])  # not running

        holder = subprocess.Popen([nc.WINE_RUN, nc.windows_path(firefox), "hold",
                                   "kernel32.dll", nc.windows_path(ready)],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        self.addCleanup(holder.kill)
        deadline = time.monotonic() + 60
        while not os.path.exists(ready) and time.monotonic() < deadline:
            time.sleep(0.05)

        for choice, expected in (("cancel", "2"), ("ok", "1")):
            answer = subprocess.Popen([nc.WINE_RUN, PROBE, "answer", "Close Firefox", choice,
                                       nc.windows_path(self.path(choice))],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
            self.assertEqual(nc.run(exe), [expected], choice)
            self.assertEqual(answer.wait(timeout=60), 0)
            if choice == "cancel":
                self.assertIsNone(holder.poll())
                # The marker in the default profile: nothing to close, no question.
                with open(os.path.join(self.second, "prefs.js"), "ab") as f:
                    f.write(b"\r\n" + LINE.encode())
                self.assertEqual(nc.run(exe), ["0"])
                with open(os.path.join(self.second, "prefs.js"), "wb") as f:
                    f.write(b'user_pref("browser.startup.page", 3);')
        self.assertEqual(holder.wait(timeout=30), 0)


class NoFirefox(unittest.TestCase):
    def test_nothing_installed(self):
        with tempfile.TemporaryDirectory() as work:
            script = os.path.join(work, "koba.js")
            open(script, "w").close()
            os.makedirs(os.path.join(work, "userpref"))
            reg_add(SETTINGS, "FFPrefPath", nc.windows_path(os.path.join(work, "userpref")))
            cases = [("FFox_PrefPath", [], "\\defaults\\pref"),
                     ("FFox_CopyJSToPref", [nc.windows_path(script)], nc.UNSET),
                     ("FFox_DelJSFilePref", ["koba.js"], nc.UNSET),
                     ("FFox_AddP11Name", ["kvnp11.dll", "KOBA"], nc.UNSET),
                     ("FFox_AddRootCert", [], nc.UNSET)]
            exe = nc.build(PLUGIN_DIR, work, "nofirefox",
                           [nc.case_lines(export, args) for export, args, _ in cases])
            self.assertEqual(nc.run(exe), [expected for _, _, expected in cases])
            self.assertTrue(os.path.isfile(os.path.join(work, "userpref", "koba.js")))
            self.assertIsNone(nc.reg_value(SETTINGS, "FFPrefPath"))
            appdata = unix_path(nc.wine("cmd.exe", "/c", "echo %APPDATA%")[1].strip())
            self.assertFalse(os.path.exists(os.path.join(appdata, "Mozilla")))


if __name__ == "__main__":
    PLUGIN_DIR = sys.argv.pop(1)
    PROBE = sys.argv.pop(1)
    NSS_BRIDGE = sys.argv.pop(1)
    unittest.main()
