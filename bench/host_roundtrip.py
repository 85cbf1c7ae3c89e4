"""Round trips and start-up of the native-messaging host under Wine, beside a minimal echo host
over the same pipes under the same Wine. Prints the figures and their ratios."""
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools", "pylib"))
import nmhost  # noqa: E402

REQUEST = {"type": "IsExtensionOK", "tabID": 1}


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


def start_ups(exes, count):
    """Start-ups to the first reply, the programs taking turns so that a change in the
    machine's load touches all of them alike."""
    samples = {exe: [] for exe in exes}
    for _ in range(count):
        for exe in exes:
            samples[exe].append(start_up(exe))
    return [samples[exe] for exe in exes]


def describe(samples):
    ms = sorted(s * 1000 for s in samples)
    return "median %.3f ms, p90 %.3f ms" % (statistics.median(ms), ms[int(len(ms) * 0.9)])


def main():
    host_exe, echo_exe = sys.argv[1], sys.argv[2]
    trips, starts = 2000, 40
    names, exes = ("host", "echo"), (host_exe, echo_exe)
    rows = {name: (round_trips(exe, trips), starts_of)
            for name, exe, starts_of in zip(names, exes, start_ups(exes, starts))}
    for name in names:
        print("%-5s round trip (%d): %s; start-up to first reply (%d, taking turns): %s"
              % (name, trips, describe(rows[name][0]), starts, describe(rows[name][1])))
    for i, what in enumerate(("round trip", "start-up")):
        ratio = statistics.median(rows["host"][i]) / statistics.median(rows["echo"][i])
        print("ratio host/echo, %s: %.2f" % (what, ratio))


if __name__ == "__main__":
    main()
