"""setup.exe /S installs the system into the run's prefix and the uninstaller it leaves takes
all of it away again: the registry and the files of drive C: are compared with the state
before the installation."""
import hashlib
import json
import os
import re
import struct
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
                 "\\WinTrust\\Trust Providers\\Software Publishing]")
VOLATILE_FILES = ("/temp/", "/windows/logs/")
BANK_CA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "common",
                       "bank_ca")
STORE = r"%s\Software\Microsoft\SystemCertificates\%s\Certificates\%s"
NOTES = r"%s\Software\Korvanet\507Q2_KOBA\AddedCACertificates\%s"
# Wine's own certificate state, made when a program first opens the system stores: the
# stores' empty keys, and the build machine's trusted roots that Wine copies into the machine's
# "Root" store. The bank's certificates in "Root" are compared like everything else.
STORE_KEY = re.compile(r"\\SystemCertificates\\[^\\]+(\\(Certificates|CRLs|CTLs))?\]$", re.I)
# The empty keys on the way to the Authenticode provider's state (see VOLATILE_KEYS), which Wine
# makes at the first signature check in a prefix.
WINTRUST_KEY = re.compile(r"\\CurrentVersion\\Wintrust(\\Trust Providers)?\]$", re.I)
MACHINE_ROOT = re.compile(r"^\[HKEY_LOCAL_MACHINE\\Software\\(Wow6432Node\\)?Microsoft\\"
                          r"SystemCertificates\\Root\\Certificates\\([0-9A-F]{40})\]$", re.I)


def bank_thumbprints():
    return {thumbprint(name) for name in os.listdir(BANK_CA)}


def wine_certificate_state(key, line):
    if line == key and (STORE_KEY.search(key) or WINTRUST_KEY.search(key)):
        return True
    root = MACHINE_ROOT.match(key)
    return root is not None and root.group(2).upper() not in bank_thumbprints()


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
                    if any(v.lower() in key.lower() for v in VOLATILE_KEYS) or \
                            wine_certificate_state(key, line):
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


def thumbprint(name):
    with open(os.path.join(BANK_CA, name), "rb") as f:
        return hashlib.sha1(f.read()).hexdigest().upper()


def in_store(root, store, name):
    return nc.reg_key_exists(STORE % (root, store, thumbprint(name)))


class SetupRoundTrip(unittest.TestCase):
    def put_in_store(self, root, store, name):
        """A certificate that another program put into a store before the installation, as
        Wine's crypt32 keeps it in the registry: its SHA-1 hash and certificate properties."""
        with open(os.path.join(BANK_CA, name), "rb") as f:
            der = f.read()
        key = STORE % (root, store, thumbprint(name))
        sha1 = hashlib.sha1(der).digest()
        blob = struct.pack("<III", 3, 1, len(sha1)) + sha1 + struct.pack("<III", 32, 1, len(der))
        nc.wine("reg.exe", "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d",
                (blob + der).hex(), "/f", check=True)
        self.addCleanup(nc.wine, "reg.exe", "delete", key, "/f")

    def test_install_then_uninstall(self):
        # Two of the bank's certificates trusted already: the user's root, the machine's CA.
        self.put_in_store("HKCU", "ROOT", "ca02.cer")
        self.put_in_store("HKLM", "CA", "ca04.cer")
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

        # The CA certificates in the stores that did not show them yet, and only those noted.
        added = {("HKCU", "ROOT"): ["ca01.cer", "ca03.cer"], ("HKCU", "CA"): ["ca05.cer"],
                 ("HKLM", "ROOT"): ["ca01.cer", "ca02.cer", "ca03.cer", "ca06.cer"],
                 ("HKLM", "CA"): ["ca05.cer", "ca07.cer", "ca08.cer"]}
        for (root, store), names in added.items():
            for name in names:
                self.assertTrue(in_store(root, store, name), (root, store, name))
                self.assertEqual(nc.reg_value(NOTES % (root, store), thumbprint(name))[0],
                                 "REG_SZ", (root, store, name))
        # The user's view of "CA" shows the machine's.
        self.assertFalse(in_store("HKCU", "CA", "ca04.cer"))
        for root, store, name in (("HKCU", "ROOT", "ca02.cer"), ("HKLM", "CA", "ca04.cer")):
            self.assertIsNone(nc.reg_value(NOTES % (root, store), thumbprint(name)))

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
