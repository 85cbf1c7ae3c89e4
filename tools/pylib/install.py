"""Installs the system into a Wine prefix the way the installer does: the libraries the
programs load from the system folder, the install folder with its programs, language files
(langs\\), pictures (res\\) and the CA certificates the tray monitor installs (certs\\), the
machine settings that name the install folder, and the host's registration with Chrome and
Edge (its manifest beside it, named under HKCU).

    python3 tools/pylib/install.py BUILD_DIR     # into $WINEPREFIX

Until the key's vendor libraries are present on a PC, the virtual key's stand-ins take their
place in the system folder.
"""
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chromium_driver import extension_id  # noqa: E402  the bank page's extension

INSTALL_DIR = ("Program Files", "KOBA")
SYSTEM_LIBRARIES = [
    ("vkey", "Q2Token_koba.dll"),
    ("vkey", "Q2CSP_KOBA.dll"),
    ("vkey", "Q2DevEx01_koba.dll"),
    ("pinpad", "Q2Pinpad_KOBA.dll"),
]
PROGRAMS = [
    ("host", "koba.chrome.KVN.NativeHost.exe"),
    ("traymon", "Q2Svr_KOBA.exe"),
]


WINE_RUN = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "wine-run")
SETTINGS_KEY = r"HKLM\Software\Korvanet\507Q2_KOBA"
HOST_NAME = "com.google.chrome.koba.kvn"
HOST_EXE = "koba.chrome.KVN.NativeHost.exe"
HOST_REGISTRATIONS = [r"HKCU\Software\Google\Chrome\NativeMessagingHosts",
                      r"HKCU\Software\Microsoft\Edge\NativeMessagingHosts"]


def drive_c(prefix=None):
    return os.path.join(prefix or os.environ["WINEPREFIX"], "drive_c")


def install_dir(prefix=None):
    """The install folder as a Linux path."""
    return os.path.join(drive_c(prefix), *INSTALL_DIR)


def install(build_dir, prefix=None):
    """Copies every built deliverable into the prefix; returns the install folder."""
    system32 = os.path.join(drive_c(prefix), "windows", "system32")
    for folder, name in SYSTEM_LIBRARIES:
        shutil.copy2(os.path.join(build_dir, folder, name), system32)
    target = install_dir(prefix)
    os.makedirs(target, exist_ok=True)
    for folder, name in PROGRAMS:
        shutil.copy2(os.path.join(build_dir, folder, name), target)
    for sub, files in (("langs", glob.glob(os.path.join(build_dir, "langs", "*.ini"))),
                       ("certs", glob.glob(os.path.join(build_dir, "traymon", "certs", "*.cer"))),
                       ("res", [p for p in glob.glob(os.path.join(build_dir, "pinpad", "res", "*"))
                                if not p.endswith(".ico")])):
        os.makedirs(os.path.join(target, sub), exist_ok=True)
        for path in files:
            shutil.copy2(path, os.path.join(target, sub))
    wine("reg", "add", SETTINGS_KEY, "/v", "InstallPath", "/t", "REG_SZ",
         "/d", "C:\\" + "\\".join(INSTALL_DIR), "/f")
    register_host(target)
    # The vendor libraries carry a code signature; the virtual key's are signed by a test root
    # that the machine must trust, as a PC trusts the vendor's.
    wine(os.path.join(build_dir, "vkey", "vkey.exe"), "trust-root",
         "Z:" + os.path.join(build_dir, "vkey", "codesign", "root.der").replace("/", "\\"))
    return target


def register_host(target):
    """The host's manifest in the install folder, named by the browsers' per-user keys; the
    extension allowed to start it is the one under tests/chromium."""
    windows_dir = "C:\\" + "\\".join(INSTALL_DIR)
    manifest = HOST_NAME + ".json"
    with open(os.path.join(target, manifest), "w") as f:
        json.dump({"name": HOST_NAME, "description": "KOBA USB key",
                   "path": windows_dir + "\\" + HOST_EXE, "type": "stdio",
                   "allowed_origins": ["chrome-extension://%s/" % extension_id()]}, f, indent=2)
    for key in HOST_REGISTRATIONS:
        wine("reg", "add", key + "\\" + HOST_NAME, "/ve", "/t", "REG_SZ",
             "/d", windows_dir + "\\" + manifest, "/f")


def wine(*args):
    """Runs a Windows program of the prefix; its output goes to files, not pipes, because
    Wine's background processes may inherit pipes and keep them open."""
    with tempfile.TemporaryFile() as out:
        p = subprocess.run([WINE_RUN, *args], stdout=out, stderr=subprocess.STDOUT,
                           stdin=subprocess.DEVNULL, timeout=120)
        if p.returncode != 0:
            out.seek(0)
            raise RuntimeError("%s failed: %s" % (args[0], out.read().decode("utf-8", "replace")))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: install.py BUILD_DIR")
    print(install(os.path.abspath(sys.argv[1])))
