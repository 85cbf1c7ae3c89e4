"""A picture of the plug-in's dialog that asks to close the programs holding a DLL, for
tools/screenshots.sh (not a test):

    python3 owner_dialog_shot.py PLUGIN_DIR PROBE OUT.png
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nsis_cases as nc  # noqa: E402

TITLE = "KOBA USB Key"


def wait_for(path, seconds=60):
    deadline = time.monotonic() + seconds
    while not os.path.exists(path):
        if time.monotonic() > deadline:
            raise SystemExit("owner_dialog_shot: timed out waiting for " + path)
        time.sleep(0.05)


def main(plugin_dir, probe, picture):
    work = tempfile.mkdtemp()
    try:
        held = os.path.join(work, "Q2Pinpad_KOBA.dll")
        shutil.copy(os.path.join(plugin_dir, "Plugin_lmwt.dll"), held)
        ready, seen, go = (os.path.join(work, n) for n in ("ready", "seen", "go"))
        holder = subprocess.Popen([nc.WINE_RUN, probe, "hold", nc.windows_path(held),
                                   nc.windows_path(ready)], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(ready)
        exe = nc.build(plugin_dir, work, "owners", [nc.case_lines(
            "GetDllOwnerProcName",
            ["Q2Pinpad_KOBA.dll", TITLE, "These programs use Q2Pinpad_KOBA.dll. Close them to "
             "continue.", "Process", "File", "Close", "Cancel"])])
        answer = subprocess.Popen([nc.WINE_RUN, probe, "answer", TITLE, "cancel",
                                   nc.windows_path(seen), nc.windows_path(go)],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        installer = subprocess.Popen([nc.WINE_RUN, nc.windows_path(exe)],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        wait_for(seen)
        window = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True,
                                text=True).stdout
        ids = [line.split()[0] for line in window.splitlines() if '"%s"' % TITLE in line]
        subprocess.run(["/usr/bin/import", "-window", ids[0] if ids else "root", picture],
                       check=True)
        open(go, "w").close()
        answer.wait(timeout=60)
        installer.wait(timeout=60)
        holder.kill()
    finally:
        shutil.rmtree(work, True)


if __name__ == "__main__":
    main(*sys.argv[1:4])
