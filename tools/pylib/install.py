"""Installs the system into a Wine prefix with its own installer, `setup.exe /S` of the build,
and adds the virtual key where the key's vendor package would put its libraries
(tools/install-vkey.sh), as a PC gets the vendor's own package.

    python3 tools/pylib/install.py BUILD_DIR     # into $WINEPREFIX

The installer puts the PIN pad library into the system folder, the programs, language files
(langs\\) and pictures (res\\) into the install folder, the machine settings that name the
install folder, and the host's manifest registered with Chrome and Edge under HKCU.
"""
import os
import subprocess
import sys
import tempfile

INSTALL_DIR = ("Program Files", "KOBA")
HOST_NAME = "com.google.chrome.koba.kvn"
HOST_EXE = "koba.chrome.KVN.NativeHost.exe"
SERVICE_EXE = "VexloSerB.exe"

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_RUN = os.path.join(TOOLS, "wine-run")


def drive_c(prefix=None):
    return os.path.join(prefix or os.environ["WINEPREFIX"], "drive_c")


def install_dir(prefix=None):
    """The install folder as a Linux path."""
    return os.path.join(drive_c(prefix), *INSTALL_DIR)


def install(build_dir, prefix=None):
    """Runs the build's installer silently, then adds the virtual key; returns the install
    folder."""
    env = dict(os.environ)
    if prefix:
        env["WINEPREFIX"] = prefix
    setup = os.path.join(build_dir, "installer", "setup.exe")
    wine("Z:" + setup.replace("/", "\\"), "/S", env=env)
    run([os.path.join(TOOLS, "install-vkey.sh"), build_dir], env)
    target = install_dir(prefix)
    if not os.path.isfile(os.path.join(target, HOST_EXE)):
        raise RuntimeError("setup.exe /S did not install %s" % HOST_EXE)
    # The device service's tests install, start and remove the service themselves; a copy the
    # installer left running would hold the monitor's machine-wide mutex for the whole run.
    service = os.path.join(target, SERVICE_EXE)
    if os.path.isfile(service):
        wine("C:\\" + "\\".join(INSTALL_DIR + (SERVICE_EXE,)), "-k", "-u", env=env)
    return target


def wine(*args, env=None):
    """Runs a Windows program of the prefix."""
    run([WINE_RUN, *args], env)


def run(command, env=None):
    """Output goes to files, not pipes, because Wine's background processes may inherit pipes
    and keep them open."""
    with tempfile.TemporaryFile() as out:
        p = subprocess.run(command, stdout=out, stderr=subprocess.STDOUT,
                           stdin=subprocess.DEVNULL, timeout=180, env=env)
        if p.returncode != 0:
            out.seek(0)
            raise RuntimeError("%s failed: %s" % (os.path.basename(command[0]),
                                                  out.read().decode("utf-8", "replace")))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: install.py BUILD_DIR")
    print(install(os.path.abspath(sys.argv[1])))
