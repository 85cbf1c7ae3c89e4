"""GMUsbKeySign with a file part of 1, 10 and 50 MB (and without a file) through the installed
host under Wine, beside `openssl cms -sign` of the same signing record in the same run: wall
time and peak memory, and their ratios. Prints figures only; it is not a test.

The host's time leaves out the PIN entry: the PIN pad driver types the PIN and the clock stops
from the dialog's appearance until Enter is pressed (the driver polls every 20 ms, so each figure
carries up to about 40 ms of that). The host's peak is the high-water mark of its resident memory
(a fresh host process per run); OpenSSL's is its maximum resident size.

    tools/with-wine.sh python3 bench/sign_bench.py BUILD_DIR     # (tools/bench.sh runs it)
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools",
                                "pylib"))
import install  # noqa: E402
import nmhost  # noqa: E402
import pinpad_driver  # noqa: E402
import signcheck  # noqa: E402
import vkeyctl  # noqa: E402

SIZES_MB = (0, 1, 10, 50)
RUNS = 3
PIN = "123456"
SERIAL = "BENCH001"
XML = "<T><amount>100.00 CNY</amount><payee>Li Si</payee></T>"
KEY_INFO = "bench"


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise RuntimeError("no VmHWM for %d" % pid)


def host_run(host_exe, driver_exe, env, path):
    """One signature by a fresh host; returns its figures and the result text.

    Figures: "time" without the PIN entry, "before" (request to dialog), "after" (Enter to the
    last reply), "first" (Enter to the first reply), "peak" and "peak_before" (KiB, the latter
    while the dialog is open, that is before the key signs)."""
    request = {"type": "GMUsbKeySign", "tabID": 1, "certDN": "CN=Bench User",
               "hashType": "SHA256", "xmlInfo": XML, "keyInfo": KEY_INFO, "filePath": path}
    with nmhost.Host(host_exe, env=env) as host:
        host.request({"type": "IsExtensionOK", "tabID": 0})  # started
        with pinpad_driver.PadDriver(PIN, exe=driver_exe, pause=True, timeout=300) as pad:
            t0 = time.perf_counter()
            host.send(request)
            pad.wait_line("found", 300)
            t_dialog = time.perf_counter()
            pad.typed()
            peak_before = peak_kib(host.proc.pid)
            t_enter = time.perf_counter()
            pad.press("enter")
            replies = [json.loads(host.receive(600))]
            t_first = time.perf_counter()
            while replies[-1]["IsOver"] == 0:
                replies.append(json.loads(host.receive(600)))
            t_end = time.perf_counter()
            pad.wait()
        peak = peak_kib(host.proc.pid)
        host.close()
    text = signcheck.joined(replies)
    if not isinstance(text, str):
        raise RuntimeError("GMUsbKeySign answered %r" % text)
    figures = {"before": t_dialog - t0, "after": t_end - t_enter, "first": t_first - t_enter,
               "peak": peak, "peak_before": peak_before}
    figures["time"] = figures["before"] + figures["after"]
    return figures, text


def openssl_run(record, cert, key, out):
    """`openssl cms -sign` of the record into Base64 (PEM) PKCS#7; returns (seconds, peak KiB)."""
    t0 = time.perf_counter()
    p = subprocess.Popen(["openssl", "cms", "-sign", "-binary", "-nodetach", "-md", "sha256",
                          "-in", record, "-signer", cert, "-inkey", key, "-outform", "PEM",
                          "-out", out], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    elapsed = time.perf_counter() - t0
    p.returncode = os.waitstatus_to_exitcode(status)
    if p.returncode != 0:
        raise RuntimeError("openssl cms -sign failed")
    return elapsed, usage.ru_maxrss


def main():
    build = os.path.abspath(sys.argv[1])
    host_exe = os.path.join(build, "host", "koba.chrome.KVN.NativeHost.exe")
    driver_exe = os.path.join(build, "tests", "pad_driver.exe")
    install.install(build)
    with tempfile.TemporaryDirectory(prefix="koba-sign-bench-") as work:
        store = vkeyctl.Store(os.path.join(build, "vkey", "vkey.exe"), work)
        ca = vkeyctl.TestCA(work)
        signcheck.certified_key(store, ca, work, SERIAL, "rsa2048", "/CN=Bench User")
        key = os.path.join(work, "openssl.key")
        csr = os.path.join(work, "openssl.csr")
        cert = os.path.join(work, "openssl.pem")
        subprocess.run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                        "-out", csr, "-subj", "/CN=Bench User"], check=True, capture_output=True)
        subprocess.run(["openssl", "x509", "-req", "-in", csr, "-CA", ca.cert, "-CAkey", ca.key,
                        "-set_serial", "9", "-days", "1", "-out", cert], check=True,
                       capture_output=True)
        with nmhost.Host(host_exe, env=store.env) as idle:
            idle.request({"type": "IsExtensionOK", "tabID": 0})
            baseline = peak_kib(idle.proc.pid)
            idle.close()
        print("GMUsbKeySign through the host (RSA-2048, SHA-256) vs openssl cms -sign of the same"
              " record (PEM out); medians of %d runs. An idle host under Wine peaks at %.1f MiB;"
              " size 0 signs without a file: the fixed cost of the PIN pad (code-signature"
              " checks, dialog) and the key. 'extra' is the figure less that fixed cost."
              % (RUNS, baseline / 1024))
        head = ("file", "host s", "extra s", "openssl s", "host/ossl", "extra/ossl", "host MiB",
                "extra MiB", "ossl MiB", "host/ossl", "extra/file")
        print(" ".join("%-10s" % h for h in head))
        fixed = None
        for mb in SIZES_MB:
            size = mb * 1000 * 1000
            data_file = os.path.join(work, "file-%d.bin" % mb)
            with open(data_file, "wb") as f:
                f.write(os.urandom(size))
            # Size 0: no file at all.
            path = vkeyctl.winpath(data_file) if mb else ""
            with open(data_file, "rb") as f:
                record = signcheck.text_record(XML.encode(), KEY_INFO.encode(),
                                               signcheck.file_part(path, f.read()) if mb else b"")
            record_file = os.path.join(work, "record-%d.bin" % mb)
            with open(record_file, "wb") as f:
                f.write(record)
            del record
            host, ossl = [], []
            for run in range(RUNS):
                figures, text = host_run(host_exe, driver_exe, store.env, path)
                if run == 0:  # the result is the real thing: OpenSSL checks it once per size
                    with open(record_file, "rb") as f:
                        if signcheck.verified_content(text, ca.cert, os.path.join(
                                work, "host-%d" % mb)) != f.read():
                            raise RuntimeError("signed content differs from the record")
                del text
                host.append(figures)
                ossl.append(openssl_run(record_file, cert, key,
                                        os.path.join(work, "openssl-%d.pem" % mb)))
            h = {k: statistics.median(f[k] for f in host) for k in host[0]}
            ot = statistics.median(t for t, _ in ossl)
            op = statistics.median(p for _, p in ossl) / 1024
            hp = h["peak"] / 1024
            if fixed is None:
                fixed = (h["time"], hp)
            extra_t, extra_p = h["time"] - fixed[0], hp - fixed[1]
            row = ["%d MB" % mb, "%.3f" % h["time"], "%.3f" % extra_t, "%.3f" % ot,
                   "%.2f" % (h["time"] / ot), "%.2f" % (extra_t / ot), "%.1f" % hp,
                   "%.1f" % extra_p, "%.1f" % op, "%.2f" % (hp / op),
                   "%.2f" % (extra_p * 1024 * 1024 / size) if mb else "-"]
            print(" ".join("%-10s" % c for c in row))
            print("           host phases: request to dialog %.3f s (peak %.1f MiB), Enter to"
                  " first reply %.3f s, to last %.3f s" % (
                      h["before"], h["peak_before"] / 1024, h["first"], h["after"]))
            os.remove(data_file)
            os.remove(record_file)

if __name__ == "__main__":
    main()
