"""Round trips and start-up of the native-messaging host under Wine, beside a minimal echo host
over the same pipes under the same Wine. Prints the figures and their ratios.

The host binds the PIN pad library at start when it is in the system folder, as on an installed
system: its start-up is measured without and with the built library there, taking turns with
the echo host.

    tools/with-wine.sh python3 bench/host_roundtrip.py HOST_EXE ECHO_EXE PINPAD_DLL
(tools/bench.sh runs it after tools/install-vkey.sh)
"""
import os
import shutil
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools", "pylib"))
import nmhost  # noqa: E402

REQUEST = {"type": "IsExtensionOK", "tabID": 1}
PINPAD_NAME = "Q2Pinpad_KOBA.dll"


class SystemPinpad:
    """The PIN pad library in the prefix's system folder, put there and taken away between
    start-ups by a rename; it must not be there before, and is gone again after."""

    def __init__(self, dll):
        system32 = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", "system32")
        self.path = os.path.join(system32, PINPAD_NAME)
        self.aside = self.path + ".bench"
        if os.path.exists(self.path):
            raise SystemExit("%s is already installed; run in a fresh prefix" % self.path)
        shutil.copyfile(dll, self.aside)
        self.present = False

    def install(self):
        if not self.present:
            os.replace(self.aside, self.path)
            self.present = True

    def remove(self):
        if self.present:
            os.replace(self.path, self.aside)
            self.present = False

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for path in (self.path, self.aside):
            if os.path.exists(path):
                os.unlink(path)


def round_trips(exe, count):
    samples = []
    with nmhost.Host(exe) as host:
        host.request(REQUEST)  # started and warm
        for _ in range(count):
            t0 = time.perf_counter()
            host.request(REQUEST)
            samples.append(time.perf_counter() - t0)
        host.close()
    return samples


def start_up(exe):
    t0 = time.perf_counter()
    with nmhost.Host(exe) as host:
        host.request(REQUEST)
        elapsed = time.perf_counter() - t0
        host.close()
    return elapsed


def start_ups(runs, count):
    """Start-ups to the first reply of each (exe, prepare) run, the runs taking turns so that a
    change in the machine's load touches all of them alike."""
    samples = [[] for _ in runs]
    for _ in range(count):
        for (exe, prepare), out in zip(runs, samples):
            prepare()
            out.append(start_up(exe))
    return samples


def describe(samples):
    ms = sorted(s * 1000 for s in samples)
    return "median %.3f ms, p90 %.3f ms" % (statistics.median(ms), ms[int(len(ms) * 0.9)])


def main():
    host_exe, echo_exe, pinpad_dll = sys.argv[1:4]
    trips, starts = 2000, 40
    with SystemPinpad(pinpad_dll) as pinpad:
        echo, bare, installed = start_ups(((echo_exe, pinpad.remove), (host_exe, pinpad.remove),
                                           (host_exe, pinpad.install)), starts)
        pinpad.remove()
        host_trips, echo_trips = round_trips(host_exe, trips), round_trips(echo_exe, trips)
    print("echo round trip (%d): %s" % (trips, describe(echo_trips)))
    print("host round trip (%d): %s" % (trips, describe(host_trips)))
    print("ratio host/echo, round trip: %.2f"
          % (statistics.median(host_trips) / statistics.median(echo_trips)))
    print("start-up to first reply (%d each, taking turns):" % starts)
    for name, samples in (("echo host", echo), ("host, no PIN pad library", bare),
                          ("host, PIN pad library installed", installed)):
        print("  %-32s %s; ratio to echo %.2f"
              % (name, describe(samples), statistics.median(samples) / statistics.median(echo)))


if __name__ == "__main__":
    main()
