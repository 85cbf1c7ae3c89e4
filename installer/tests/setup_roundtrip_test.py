"""setup.exe /S installs the system into the run's prefix and the uninstaller it leaves takes
all of it away again: the registry and the files of drive C: are compared with the state
before the installation."""
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nsis_cases as nc  # noqa: E402

SETUP = None
INSTALL_DIR = ("Program Files", "KOBA")
SETTINGS = r"HKLM\Software\Korvanet\507Q2_KOBA"
SETTINGS32 = r"HKLM\Software\Wow6432Node\Korvanet\507Q2_KOBA"
HOST_NAME = "com.google.chrome.koba.kvn"
# What Wine itself changes while programs run (caches, the display's devices, temporary
# files), and the uninstaller's temporary copy, which Windows deletes at the next start.
VOLATILE_KEYS = ("\\Hardware\\", "\\Hardware Profiles\\", "\\Control\\Video", "\\Control\\Class\\",
                 "\\Control\\DeviceClasses", "\\Control\\ServiceCurrent",
                 "\\Control\\Session Manager]",
                 "\\Software\\Wine\\", "\\MuiCache", "\\Explorer\\", "\\Wine\\Fonts",
                 "\\PerfFlib", "\\Shell\\BagMRU", "\\ShellNoRoam", "\\Dynamic", "\\Bags",
                 "\\Time Zones", "\\Installer", "\\SessionInfo",
                 # Wine's Authenticode provider keeps its state here once a signature is checked.
                 "\\Wintrust")
VOLATILE_FILES = ("/temp/", "/windows/logs/")
# What the uninstaller leaves on purpose: the bank's CA certificates that the tray monitor's
# "installRoot" put into the certificate stores stay trusted, since no program of the system
# takes them away again.
KEPT_KEYS = ("\\SystemCertificates",)


def prefix():
    return os.environ["WINEPREFIX"]


def registry_state():
    """Every key and value line of HKLM and HKCU as regedit exports them."""
    lines = set()
    with tempfile.TemporaryDirectory() as work:
        for root in ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"):
            out = os.path.join(work, root + ".reg")
            nc.wine("regedit.exe", "/E", nc.windows_path(out), root, check=True)
            with open(out, encoding="utf-16", errors="replace") as f:
                key = ""
                for line in f.read().splitlines():
                    if line.startswith("["):
                        key = line
                    elif not line.strip() or line.startswith("REGEDIT") or line.startswith("@="):
                        if not line.startswith("@="):
                            continue
                    if any(v.lower() in key.lower() for v in VOLATILE_KEYS + KEPT_KEYS):
                        continue
                    lines.add(key + " " + line if line != key else key)
    return lines


def file_state():
    root = os.path.join(prefix(), "drive_c")
    state = set()
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, root).lower()
            if any(v in "/" + rel for v in VOLATILE_FILES) or os.path.islink(path):
                continue
            state.add((rel, os.path.getsize(path)))
    return state


def wait_for(predicate, what, seconds=120):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


class SetupRoundTrip(unittest.TestCase):
    def test_install_then_uninstall(self):
        registry_before, files_before = registry_state(), file_state()
        target = os.path.join(prefix(), "drive_c", *INSTALL_DIR)
        started = time.monotonic()
        nc.wine(nc.windows_path(SETUP), "/S", check=True)
        installed = time.monotonic() - started

        for name in ("koba.chrome.KVN.NativeHost.exe", "uninstall.exe", HOST_NAME + ".json",
                     os.path.join("langs", "2052_enc.ini"), os.path.join("res", "Keyboard_UP.bmp")):
            self.assertTrue(os.path.isfile(os.path.join(target, name)), name)
        self.assertTrue(os.path.isfile(os.path.join(prefix(), "drive_c", "windows", "system32",
                                                    "Q2Pinpad_KOBA.dll")))
        windows_dir = "C:\\" + "\\".join(INSTALL_DIR)
        for key in (SETTINGS, SETTINGS32):
            self.assertEqual(nc.reg_value(key, "InstallPath"), ("REG_SZ", windows_dir))
        with open(os.path.join(target, HOST_NAME + ".json")) as f:
            manifest = json.load(f)
        self.assertEqual(manifest["path"], windows_dir + "\\koba.chrome.KVN.NativeHost.exe")
        self.assertEqual(manifest["type"], "stdio")
        for browser in (r"Google\Chrome", r"Microsoft\Edge"):
            self.assertEqual(
                nc.reg_value(r"HKCU\Software\%s\NativeMessagingHosts\%s" % (browser, HOST_NAME),
                             ""), ("REG_SZ", windows_dir + "\\" + HOST_NAME + ".json"))

        started = time.monotonic()
        nc.wine(windows_dir + "\\uninstall.exe", "/S", check=True)
        # The uninstaller runs on from a copy of itself in the temporary folder.
        wait_for(lambda: not os.path.exists(target), "the install folder to go")
        wait_for(lambda: nc.reg_value(SETTINGS, "InstallPath") is None, "the settings")
        uninstalled = time.monotonic() - started

        self.assertEqual(sorted(file_state() ^ files_before), [])
        self.maxDiff = None
        self.assertEqual(sorted(registry_state() ^ registry_before), [])
        print("setup.exe %d bytes; install %.1f s, uninstall %.1f s"
              % (os.path.getsize(SETUP), installed, uninstalled))


if __name__ == "__main__":
    SETUP = sys.argv.pop(1)
    unittest.main()
