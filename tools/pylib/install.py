"""Installs the system into a Wine prefix the way the installer does: the libraries the
programs load from the system folder, and the install folder with its programs.

    python3 tools/pylib/install.py BUILD_DIR     # into $WINEPREFIX

Until the key's vendor libraries are present on a PC, the virtual key's stand-ins take their
place in the system folder.
"""
import os
import shutil
import sys

INSTALL_DIR = ("Program Files", "KOBA")
SYSTEM_LIBRARIES = [
    ("vkey", "Q2Token_koba.dll"),
    ("vkey", "Q2CSP_KOBA.dll"),
    ("vkey", "Q2DevEx01_koba.dll"),
]
PROGRAMS = [
    ("host", "koba.chrome.KVN.NativeHost.exe"),
]


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
    return target


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: install.py BUILD_DIR")
    print(install(os.path.abspath(sys.argv[1])))
