"""The system-check, process and file exports of Plugin_lmwt called by real NSIS installers
under wine64."""
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
CLSID = "{6F1C2A57-0B4E-4D3A-9C1E-5A7B3D2E1F00}"
MISSING_CLSID = "{6F1C2A57-0B4E-4D3A-9C1E-5A7B3D2E1F01}"


def wait_for(predicate, what, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


class Checks(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work, True)

    def path(self, name):
        return os.path.join(self.work, name)

    def test_checks_and_files(self):
        plugin = nc.windows_path(os.path.join(PLUGIN_DIR, "Plugin_lmwt.dll"))
        with open(self.path("aabbc.txt"), "wb") as f:
            f.write(b"aabbc")
        with open(self.path("keep.txt"), "wb") as f:
            f.write(b"keep")
        w = lambda name: nc.windows_path(self.path(name))  # noqa: E731
        # (title, export, arguments, expected $R0), in the order they run.
        cases = [
            ("not under WOW64", "IsSupport64", [], "0"),
            ("empty process name", "FindProc", [""], "632"),
            ("the shell", "FindProc", ["explorer.exe"], "1"),
            ("the shell, any case", "FindProc", ["EXPLORER.EXE"], "1"),
            ("no such process", "FindProc", ["koba-nosuch.exe"], "0"),
            ("name over 260", "FindProc", ["a" * 261], "632"),
            ("same version", "CheckATLVersion", [CLSID, "1.2.3.4"], "0"),
            ("comma separators", "CheckATLVersion", [CLSID, "1,2,3,4"], "0"),
            ("third place higher", "CheckATLVersion", [CLSID, "1.2.4.0"], "1"),
            ("place by place", "CheckATLVersion", [CLSID, "0.3.0.0"], "1"),
            ("all lower", "CheckATLVersion", [CLSID, "1.1.1.1"], "0"),
            ("short version", "CheckATLVersion", [CLSID, "1.2"], "0"),
            ("not registered", "CheckATLVersion", [MISSING_CLSID, "1.0.0.0"], "1"),
            ("remove ab", "ModifyFileData", [w("aabbc.txt"), "ab"], nc.UNSET),
            ("empty text", "ModifyFileData", [w("keep.txt"), ""], nc.UNSET),
            ("lower-case kind", "RWCreate", ["dir", w("lower")], nc.UNSET),
            ("folder", "RWCreate", ["DIR", w("shared")], "1"),
            ("folder again", "RWCreate", ["DIR", w("shared")], "0"),
            ("file", "RWCreate", ["FILE", w("shared\\log.txt")], w("shared\\log.txt")),
            ("file in no folder", "RWCreate", ["FILE", w("none\\log.txt")], "0"),
            ("no reader", "CheckInstalledVSC", [], "0"),
        ]
        setup = ['WriteRegStr HKCR "CLSID\\%s\\InprocServer32" "" "%s"' % (CLSID, plugin)]
        lines = [nc.case_lines(export, args) for _, export, args, _ in cases]
        lines.append(['DeleteRegKey HKCR "CLSID\\%s"' % CLSID])
        results = nc.run(nc.build(PLUGIN_DIR, self.work, "checks", lines, setup))
        self.assertEqual(len(results), len(cases))
        for (title, _, _, expected), got in zip(cases, results):
            self.assertEqual(got, expected, title)
        with open(self.path("aabbc.txt"), "rb") as f:
            self.assertEqual(f.read(), b"c")
        with open(self.path("keep.txt"), "rb") as f:
            self.assertEqual(f.read(), b"keep")
        self.assertFalse(os.path.exists(self.path("lower")))
        self.assertTrue(os.path.isfile(self.path("shared/log.txt")))

    def test_system_version(self):
        exe = nc.build(PLUGIN_DIR, self.work, "sysversion",
                       [nc.case_lines("GetSysVersion", [])])
        key = r"HKCU\Software\Wine\AppDefaults\sysversion.exe"
        try:
            for wine_version, expected in [("win7", "Win7"), ("vista", "Vista"),
                                           ("win2003", "2003"), ("win81", "Win7")]:
                nc.wine("reg.exe", "add", key, "/v", "Version", "/d", wine_version, "/f",
                        check=True)
                self.assertEqual(nc.run(exe), [expected], wine_version)
        finally:
            nc.wine("reg.exe", "delete", key, "/f")

    def test_virtual_reader(self):
        exe = nc.build(PLUGIN_DIR, self.work, "reader", [nc.case_lines("CheckInstalledVSC", [])])
        nc.wine(PROBE, "reader", "add", check=True)
        try:
            self.assertEqual(nc.run(exe), ["1"])
        finally:
            nc.wine(PROBE, "reader", "remove", check=True)
        self.assertEqual(nc.run(exe), ["0"])

    def test_dll_owners(self):
        held = self.path("koba_held.dll")
        shutil.copy(os.path.join(PLUGIN_DIR, "Plugin_lmwt.dll"), held)
        ready = self.path("ready")
        holder = subprocess.Popen([nc.WINE_RUN, PROBE, "hold", nc.windows_path(held),
                                   nc.windows_path(ready)], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(holder.kill)
        wait_for(lambda: os.path.exists(ready), "the holder")

        def call(title):
            return nc.case_lines("GetDllOwnerProcName",
                                 ["KOBA_HELD.DLL", title, "Close these programs", "Process",
                                  "File", "Close", "Keep"])
        cases = [nc.case_lines("GetDllOwnerProcName",
                               ["koba_nobody.dll", "Nobody", "m", "a", "b", "c", "d"]),
                 call("Refuse me"), call("Accept me")]
        exe = nc.build(PLUGIN_DIR, self.work, "owners", cases)
        answers = []
        for title, choice in (("Refuse me", "cancel"), ("Accept me", "ok")):
            out = self.path(choice + ".txt")
            answers.append((out, subprocess.Popen(
                [nc.WINE_RUN, PROBE, "answer", title, choice, nc.windows_path(out)],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)))
        results = nc.run(exe)
        self.assertEqual(results, ["OK", "CANCEL", "OK"])
        for out, answer in answers:
            self.assertEqual(answer.wait(timeout=60), 0)
            with open(out, encoding="utf-16-le") as f:
                self.assertEqual(f.read(), "Close these programs|1")
        # The second dialog still listed the holder, so refusing ended nothing; accepting did.
        self.assertEqual(holder.wait(timeout=30), 0)


if __name__ == "__main__":
    PLUGIN_DIR = sys.argv.pop(1)
    PROBE = sys.argv.pop(1)
    sys.argv.pop(1)  # the NSS bridge, for the Firefox tests
    unittest.main()
